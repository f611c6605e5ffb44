// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include "acquisition/twain_window.h"


namespace dovrikna {

std::atomic<HWND> twainWindow{nullptr};

// On the forwarding path the Launcher's reports arrive here as window
// messages; every message that is no report leaves the status alone.
LRESULT CALLBACK TwainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    applyReport(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace dovrikna
