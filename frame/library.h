// Process-wide state of the library frame: the module instance, the id of the
// acquisition worker and the cached lookup of the application's main window.
#ifndef DOVRIKNA_FRAME_LIBRARY_H
#define DOVRIKNA_FRAME_LIBRARY_H

#include <windows.h>

#include <atomic>

namespace dovrikna {

extern HINSTANCE moduleInstance;

// TwainWorker's thread id; 0 until the worker has been created, and 0 for
// good when its creation failed.
extern std::atomic<DWORD> workerThreadId;

// MainAppWindow: the top-level window of class "com.quenlark.ui.Dovrik" titled
// "quenLark". Searched for until found once, then cached for the life of the
// library. Callable from any thread.
HWND findMainAppWindow();

// A thread that leaves the library for good while it stays alive (the
// unloading thread, the worker parked for its end) is told to the library's
// own TLS callbacks as detaching: the loader tells them only of threads that
// end while the library is loaded. Only the builds whose runtime is the posix
// thread model's (the soak's counted build, the fuzzer's wide-end build) need
// it: winpthreads keeps for such a thread a duplicate of its handle and an
// event, 2 handles left per load cycle otherwise (frame_tests'
// BackToBackLoadsAndUnloadsLeaveNothingBehind, against bin/counted: 433
// handles after 200 cycles without, 31 with). The shipped runtime (win32
// thread model) keeps nothing of the kind: the same cycles count the same
// handles and heap with and without, and there it does nothing.
void detachThisThreadFromTheRuntime();

} // namespace dovrikna

#endif
