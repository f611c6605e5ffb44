#include "acquisition/twain_worker.h"

#include "frame/library.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

unique_kernel_handle workerThread;
unique_kernel_handle queueReady;    // set once the worker's message queue exists
unique_kernel_handle workerStopped; // set when the worker's loop has ended
unique_kernel_handle neverSignalled;

// How long the unload waits for the worker to leave its loop.
const DWORD kStopTimeoutMs = 5000;

void runWorkerLoop()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

DWORD WINAPI twainWorkerMain(void*)
{
    // Any message call makes the thread's queue; before it exists, requests
    // posted to the thread are lost.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(queueReady.get());

    runWorkerLoop();

    // Signal the unloader and park inside the system in one call, so that no
    // instruction of this module runs after the signal: the unloader then
    // removes the parked thread before the module goes away.
    SignalObjectAndWait(workerStopped.get(), neverSignalled.get(), INFINITE, FALSE);
    return 0;
}

} // namespace

void startTwainWorker()
{
    queueReady.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    workerStopped.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    neverSignalled.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));

    DWORD id = 0;
    workerThread.reset(CreateThread(nullptr, 0, twainWorkerMain, nullptr, 0, &id));
    workerThreadId.store(workerThread ? id : 0);
}

void stopTwainWorker()
{
    if (!workerThread) return;
    // A worker whose queue is not made yet has not run any of the library's
    // code (it waits for the loader lock that this unload holds), so it can be
    // removed at once. A running one is asked to leave its loop first.
    if (WaitForSingleObject(queueReady.get(), 0) == WAIT_OBJECT_0) {
        PostThreadMessageA(workerThreadId.load(), WM_QUIT, 0, 0);
        WaitForSingleObject(workerStopped.get(), kStopTimeoutMs);
    }
    TerminateThread(workerThread.get(), 0);
    workerThread.reset();
    workerThreadId.store(0);
}

} // namespace dovrikna
