#include "acquisition/twain_window.h"

namespace dovrikna {

std::atomic<HWND> twainWindow{nullptr};

LRESULT CALLBACK TwainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Not implemented yet: the Launcher's reports are not applied.
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace dovrikna
