#include "frame/library.h"

namespace dovrikna {

namespace {
// Read and written whole from the loading thread, TwainWorker and the shell
// open threads; every successful search finds the same window, so two racing
// searches at worst store the same handle twice.
std::atomic<HWND> cachedMainAppWindow{nullptr};

const char kMainAppWindowClass[] = "com.quenlark.ui.Dovrik";
const char kMainAppWindowTitle[] = "quenLark";
} // namespace

HWND findMainAppWindow()
{
    HWND window = cachedMainAppWindow.load();
    if (window) return window;
    window = FindWindowA(kMainAppWindowClass, kMainAppWindowTitle);
    cachedMainAppWindow.store(window);
    return window;
}

} // namespace dovrikna
