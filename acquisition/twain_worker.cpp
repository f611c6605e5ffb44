// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include "acquisition/twain_worker.h"

#include "acquisition/in_process_requests.h"
#include "acquisition/twain_messages.h"
#include "acquisition/twain_session.h"
#include "acquisition/twain_window.h"
#include "frame/library.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

unique_kernel_handle workerThread;
unique_kernel_handle queueReady;    // set once the worker's message queue exists
unique_kernel_handle loopEntered;   // set when the worker waits for its first message
unique_kernel_handle workerStopped; // set when the worker's loop has ended
unique_kernel_handle neverSignalled;

// How long the unload waits for the worker to leave its loop.
const DWORD kStopTimeoutMs = 5000;
// How long it waits for a worker still on its way to the loop. Making a window
// or loading a module there waits for the loader lock, which the unload holds:
// such a worker cannot get on until the unload is over.
const DWORD kStartingStopTimeoutMs = 200;
// How long the unload waits for the removed worker to be gone.
const DWORD kTerminateTimeoutMs = 2000;
// How long a request waits for a worker that is still making its queue.
const DWORD kQueueTimeoutMs = 5000;

HWND createTwainWindow(DWORD style, HWND parent)
{
    HWND window = CreateWindowExA(0, kTwainWindowClass, kTwainWindowTitle, style, 0, 0, 1, 1, parent,
                                  nullptr, moduleInstance, nullptr);
    twainWindow.store(window);
    return window;
}

// Windows 95/98/Me: the Launcher scans; its reports come back to TwainWindow.
void runForwardingLoop()
{
    HWND window = createTwainWindow(WS_OVERLAPPED, nullptr);

    MSG message;
    SetEvent(loopEntered.get());
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (isLibraryRequest(message) && message.message != TWM_NEXT_FILE) requestTaken();
        if (isRequest(message)) forwardToLauncher(message.message);
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    // Only a stop for unloading ends the loop; the window must not outlive the
    // code of its window procedure.
    if (window) DestroyWindow(window);
}

// Every other platform: this thread drives TWAIN through the session.
void runInProcessLoop()
{
    // A child window needs its parent: without MainAppWindow there is no
    // TwainWindow, and the session gets a null window.
    HWND parent = findMainAppWindow();
    HWND window = parent ? createTwainWindow(WS_CHILD, parent) : nullptr;
    createSession(window);

    MSG message;
    SetEvent(loopEntered.get());
    while (GetMessageA(&message, nullptr, 0, 0) > 0) handleInProcessMessage(message);

    // Only a stop for unloading ends the loop. The unloading thread may own
    // the parent window and cannot answer the notice of the child's end while
    // it waits for this thread, so the parent is not notified.
    if (window)
        SetWindowLongA(window, GWL_EXSTYLE, GetWindowLongA(window, GWL_EXSTYLE) | WS_EX_NOPARENTNOTIFY);

    // The session ends TwainWindow's life with its own; the window must not
    // outlive the code of its window procedure whatever the session did.
    deleteSession();
    if (window && IsWindow(window)) DestroyWindow(window);
}

bool forwardsToLauncher()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

DWORD WINAPI twainWorkerMain(void*)
{
    // Any message call makes the thread's queue; before it exists, requests
    // posted to the thread are lost.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(queueReady.get());

    if (forwardsToLauncher())
        runForwardingLoop();
    else
        runInProcessLoop();

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
    loopEntered.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
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
        const bool looping = WaitForSingleObject(loopEntered.get(), 0) == WAIT_OBJECT_0;
        PostThreadMessageA(workerThreadId.load(), WM_QUIT, 0, 0);
        WaitForSingleObject(workerStopped.get(), looping ? kStopTimeoutMs : kStartingStopTimeoutMs);
    }
    // Another thread's termination completes asynchronously; the module must
    // not be unmapped while the worker may still be running any of its code.
    // A terminated thread ends without the loader lock, so this wait is safe.
    TerminateThread(workerThread.get(), 0);
    WaitForSingleObject(workerThread.get(), kTerminateTimeoutMs);
    workerThread.reset();
    workerThreadId.store(0);
}

void postToWorker(UINT message)
{
    const DWORD worker = workerThreadId.load();
    if (worker != 0) WaitForSingleObject(queueReady.get(), kQueueTimeoutMs);
    if ((worker == 0 || !PostThreadMessageA(worker, message, kRequestMark, 0)) && message != TWM_NEXT_FILE)
        requestTaken();
}

void forwardToLauncher(UINT message)
{
    if (HWND launcher = FindWindowA(kLauncherWindowClass, kLauncherWindowTitle))
        PostMessageA(launcher, message, 0, 0);
}

} // namespace dovrikna
