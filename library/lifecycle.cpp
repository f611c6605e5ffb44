#include "acquisition/acquisition_log.h"
#include "acquisition/name_block.h"
#include "acquisition/twain_messages.h"
#include "acquisition/twain_window.h"
#include "acquisition/twain_worker.h"
#include "desktop/mail.h"
#include "desktop/thumbnail_cache.h"
#include "frame/library.h"
#include "library/sequences.h"

// libstdc++'s own hook that frees its emergency exception pool, meant for
// memory checkers; its headers do not declare it.
namespace __gnu_cxx {
void __freeres();
}

namespace dovrikna {

HINSTANCE moduleInstance = nullptr;
std::atomic<DWORD> workerThreadId{0};

void detachThisThreadFromTheRuntime()
{
#ifdef DOVRIKNA_POSIX_THREAD_RUNTIME
    BYTE* base = reinterpret_cast<BYTE*>(moduleInstance);
    if (!base) return;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (entry.VirtualAddress == 0) return;
    auto* tls = reinterpret_cast<IMAGE_TLS_DIRECTORY*>(base + entry.VirtualAddress);
    auto* callbacks = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(tls->AddressOfCallBacks);
    for (; callbacks && *callbacks; ++callbacks) (*callbacks)(moduleInstance, DLL_THREAD_DETACH, nullptr);
#endif
}

void onProcessAttach(HINSTANCE instance)
{
    moduleInstance = instance;
    openConversationLog(instance);
    if (conversationLogOn) listenToReports();

    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = TwainWindowProc;
    windowClass.hInstance = moduleInstance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kTwainWindowClass;
    RegisterClassA(&windowClass);

    findMainAppWindow();
    initThumbnailCache();
    startTwainWorker();
}

void onProcessDetach(bool processTerminating)
{
    logUnload(processTerminating);
    releaseMailModule();
    releaseThumbnailCache(processTerminating);
    deleteNameBlockReader();

    // When the process ends, the system has already killed every other
    // thread, TwainWorker included, wherever it was: perhaps inside the
    // window manager holding its lock (under Wine a lock of win32u or of the
    // X11 driver, never given back), so DestroyWindow here would wait for
    // ever. The system takes the window back itself. The Launcher is still
    // told: it waits for that notice, and the hangs seen came from
    // DestroyWindow and COM's teardown, not from the notice (2 in 40 exits
    // hung with or without it).
    if (!processTerminating) {
        if (HWND window = twainWindow.exchange(nullptr)) DestroyWindow(window);
    }

    if (HWND launcher = FindWindowA(kLauncherWindowClass, kLauncherWindowTitle))
        PostMessageA(launcher, TWM_LIBRARY_UNLOADING, 0, 0);

    if (processTerminating) return;
    // The worker must be gone before the library's code is unmapped.
    const bool workerStopped = stopTwainWorker();
    detachThisThreadFromTheRuntime();
    // The runtime allocates its emergency exception pool at every load and
    // never frees it: 18,944 bytes (x86) or 74,752 (x64) of the process's heap per
    // load cycle (frame_tests' back-to-back cycles). Freed once no thread of
    // the library's can throw: a worker that did not stop keeps the library,
    // and its pool, mapped.
    if (workerStopped) __gnu_cxx::__freeres();
}

} // namespace dovrikna
