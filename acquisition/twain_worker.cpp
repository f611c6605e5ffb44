// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include "acquisition/twain_worker.h"

#include "acquisition/acquisition_log.h"
#include "acquisition/in_process_requests.h"
#include "acquisition/loader_lock.h"
#include "acquisition/twain_messages.h"
#include "acquisition/twain_session.h"
#include "acquisition/twain_window.h"
#include "frame/library.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

unique_kernel_handle workerThread;
unique_kernel_handle queueReady;    // set once the worker's message queue exists
// True once a request has seen queueReady set: the queue then lasts as long as
// the worker, and later requests skip the wait, which is a call into the
// system (under Wine a round trip to its server, as dear as the post itself).
std::atomic<bool> queueSeenReady{false};
unique_kernel_handle workerStopped; // set when the worker has parked for good
// Set when the worker has made its window and session and waits for its first
// request: from then on it rests inside the system between requests.
unique_kernel_handle workerStarted;

// An unload of the library ends the worker, never by terminating it: a thread
// ended from outside may hold any lock, and under Wine the process dies. The
// worker leaves its loop, queues itself an APC that frees the manager's
// module and ends the thread, and parks in an alertable wait inside the
// system. That APC runs in the system's code, and blocks on the loader lock
// until the unload is over, so no instruction of this library runs once its
// code may be gone.
enum : int { kRunning, kParked, kAbandoned };
std::atomic<int> handoff{kRunning};
// Set by the worker's DLL_THREAD_ATTACH. Until then the worker waits for the
// loader lock that the unload holds and has run none of the library's code:
// an APC queued now runs before its start routine.
std::atomic<bool> workerAttached{false};
// The manager's module, loaded by the session and freed by the exit APC.
HMODULE managerModule = nullptr;

// A system function that never returns, as an APC routine: it gets the APC's
// argument first.
template <typename Function>
PAPCFUNC apcOf(Function* function)
{
    return reinterpret_cast<PAPCFUNC>(reinterpret_cast<void*>(function));
}

// How long the unload waits for the worker to leave its loop. A worker that
// does not (held in foreign code, or by the loader lock) is left running, and
// the library's code stays mapped for it.
const DWORD kStopTimeoutMs = 2000;
// How long a request waits for a worker that is still making its queue.
const DWORD kQueueTimeoutMs = 5000;
// How long the Java VM's load waits for the worker's start.
const DWORD kStartTimeoutMs = 2000;

HWND createTwainWindow(DWORD style, HWND parent)
{
    // A child is made without notifying its parent: the notice is sent, and
    // the parent's thread (the application's UI thread) may not answer for
    // seconds. The worker would wait for it, and an unload meanwhile for the
    // worker.
    const DWORD exStyle = parent ? WS_EX_NOPARENTNOTIFY : 0;
    HWND window = CreateWindowExA(exStyle, kTwainWindowClass, kTwainWindowTitle, style, 0, 0, 1, 1, parent,
                                  nullptr, moduleInstance, nullptr);
    twainWindow.store(window);
    return window;
}

// Windows 95/98/Me: the Launcher scans; its reports come back to TwainWindow.
void runForwardingLoop()
{
    HWND window = createTwainWindow(WS_OVERLAPPED, nullptr);
    SetEvent(workerStarted.get());
    logLoadEnded();

    MSG message;
    while (!unloadUnderWay() && GetMessageA(&message, nullptr, 0, 0) > 0) {
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
    SetEvent(workerStarted.get());
    logLoadEnded();

    MSG message;
    while (!unloadUnderWay() && GetMessageA(&message, nullptr, 0, 0) > 0) handleInProcessMessage(message);

    // Only a stop for unloading ends the loop. The unloading thread may own
    // the parent window and cannot answer the notice of the child's end while
    // it waits for this thread, so the parent is not notified.
    if (window)
        SetWindowLongA(window, GWL_EXSTYLE, GetWindowLongA(window, GWL_EXSTYLE) | WS_EX_NOPARENTNOTIFY);

    // The session ends TwainWindow's life with its own; the window must not
    // outlive the code of its window procedure whatever the session did.
    managerModule = deleteSessionKeepingManager();
    if (window && IsWindow(window)) DestroyWindow(window);
}

bool forwardsToLauncher()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// The loader lock, which the loading thread holds here, as the process
// block names it (its offset is the same on every NT); null on Windows
// 95/98/Me, whose process block is another.
volatile LONG* loaderLockCount()
{
    if (forwardsToLauncher()) return nullptr;
    BYTE* teb = reinterpret_cast<BYTE*>(NtCurrentTeb());
    BYTE* peb = *reinterpret_cast<BYTE**>(teb + (sizeof(void*) == 8 ? 0x60 : 0x30));
    auto* lock = *reinterpret_cast<RTL_CRITICAL_SECTION**>(peb + (sizeof(void*) == 8 ? 0x110 : 0xA0));
    return lock ? &lock->LockCount : nullptr;
}

LONG loaderLockContention()
{
    volatile LONG* count = loaderLockCount();
    return count ? *count : 0;
}

// A new thread first sets itself up inside the system, then waits for the
// loader lock to announce itself to the loaded modules. A process that ends
// while a thread is still setting itself up can die with it (Wine 8, 32-bit:
// SIGSEGV in the new thread's signal handling). So the load returns only once
// the worker waits for the lock, or after a short while whatever it does.
// A Java VM's load is covered by JNI_OnLoad's wait as well; a plain
// LoadLibrary host has only this one: tests/exit-runs, cold, with
// DOVRIKNA_SKIP_ON_LOAD=1 on x86 lost 3 of 200 processes to SIGSEGV without
// it. No documented call tells that a new thread has reached the loader, so
// the lock's count is read.
void waitForLoaderLockWaiter(LONG contention)
{
    volatile LONG* count = loaderLockCount();
    const DWORD kWaitMs = 200;
    for (DWORD start = GetTickCount(); count && *count == contention && GetTickCount() - start < kWaitMs;)
        Sleep(0);
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

    // An unload that gave up waiting has pinned the library: a plain return
    // is safe then.
    int running = kRunning;
    if (!handoff.compare_exchange_strong(running, kParked)) return 0;
    detachThisThreadFromTheRuntime();
    // The exit APC is queued before the wait, so the wait that signals the
    // unloader takes the APC in the same call into the system. Queued by the
    // unloader instead, it would wake the wait, which then asks for it again,
    // naming the signalled event: by then the unload may have closed that
    // event, and the failed wait returned into unmapped code.
    if (managerModule)
        QueueUserAPC(apcOf(&FreeLibraryAndExitThread), GetCurrentThread(),
                     reinterpret_cast<ULONG_PTR>(managerModule));
    else
        QueueUserAPC(apcOf(&ExitThread), GetCurrentThread(), 0);
    // Signal the unloader and park inside the system in one call: nothing
    // ends the wait but the APC, which never returns.
    SignalObjectAndWait(workerStopped.get(), GetCurrentThread(), INFINITE, TRUE);
    return 0;
}

} // namespace

void startTwainWorker()
{
    findLoaderLock();
    queueReady.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    queueSeenReady.store(false);
    workerStopped.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    workerStarted.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));

    const LONG contention = loaderLockContention();
    DWORD id = 0;
    workerThread.reset(CreateThread(nullptr, 0, twainWorkerMain, nullptr, 0, &id));
    workerThreadId.store(workerThread ? id : 0);
    if (workerThread)
        waitForLoaderLockWaiter(contention);
    else
        logLoadEnded();
}

void waitForTwainWorkerStart()
{
    if (!workerThread || !workerStarted) return;
    HANDLE started = workerStarted.get();
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= kStartTimeoutMs) return;
        // Messages sent to this thread are answered meanwhile: it may own the
        // window that the worker's window is made a child of.
        const DWORD woken = MsgWaitForMultipleObjects(1, &started, FALSE, kStartTimeoutMs - waited, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1) return;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
}

void noteThreadAttach()
{
    if (workerThreadId.load() == GetCurrentThreadId()) workerAttached.store(true);
}

bool stopTwainWorker()
{
    if (!workerThread) return true;
    noteUnloading();
    if (!workerAttached.load()) {
        // It has run none of the library's code, and runs this APC before its
        // start routine.
        QueueUserAPC(apcOf(&ExitThread), workerThread.get(), 0);
    } else {
        // A worker that has not made its queue yet sees `unloading` before
        // its loop; one that has gets the WM_QUIT.
        PostThreadMessageA(workerThreadId.load(), WM_QUIT, 0, 0);
        if (WaitForSingleObject(workerStopped.get(), kStopTimeoutMs) != WAIT_OBJECT_0) {
            int running = kRunning;
            if (handoff.compare_exchange_strong(running, kAbandoned)) {
                HMODULE self = nullptr;
                GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                   reinterpret_cast<LPCSTR>(&stopTwainWorker), &self);
                workerThread.reset();
                workerThreadId.store(0);
                return false;
            }
            // It has just parked: the signal is a step away.
            WaitForSingleObject(workerStopped.get(), INFINITE);
        }
    }
    workerThread.reset();
    workerThreadId.store(0);
    return true;
}

void postToWorker(UINT message)
{
    const DWORD worker = workerThreadId.load();
    // On record before the worker can act on it.
    if (conversationLogOn) logRequest(message, worker);
    if (worker != 0 && !queueSeenReady.load())
        queueSeenReady.store(WaitForSingleObject(queueReady.get(), kQueueTimeoutMs) == WAIT_OBJECT_0);
    if (worker == 0 || !PostThreadMessageA(worker, message, kRequestMark, 0)) {
        if (worker != 0 && conversationLogOn) logRequestLost(message, GetLastError());
        // A request that never reaches the worker holds no report back.
        if (message != TWM_NEXT_FILE) requestTaken();
    }
}

void forwardToLauncher(UINT message)
{
    HWND launcher = FindWindowA(kLauncherWindowClass, kLauncherWindowTitle);
    if (launcher) PostMessageA(launcher, message, 0, 0);
    if (conversationLogOn) logForward(message, launcher != nullptr);
}

} // namespace dovrikna
