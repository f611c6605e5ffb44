// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include "acquisition/in_process_requests.h"

#include "acquisition/twain_messages.h"
#include "acquisition/twain_session.h"
#include "acquisition/twain_session_state.h"

namespace dovrikna {

bool isRequest(const MSG& message)
{
    if (message.hwnd) return false;
    return message.message == TWM_SELECT_SOURCE || message.message == TWM_ACQUIRE ||
           message.message == TWM_NEXT_FILE;
}

bool isLibraryRequest(const MSG& message)
{
    return isRequest(message) && message.wParam == kRequestMark;
}

void handleInProcessMessage(MSG& message)
{
    if (isLibraryRequest(message)) {
        if (message.message != TWM_NEXT_FILE) requestTaken();
        switch (message.message) {
        case TWM_SELECT_SOURCE:
            openDsm();
            applyReport(chooseSource(false) ? TWM_SELECT_DONE : TWM_SELECT_FAILED);
            closeDsm();
            break;
        case TWM_ACQUIRE:
            startAcquisition();
            break;
        case TWM_NEXT_FILE:
            deliverNextFile();
            break;
        }
    }
    // A request of the library's own has nothing to dispatch: it skips the
    // scope, whose hook would be installed and removed again for nothing.
    if (!filterEvent(message) && !isLibraryRequest(message)) {
        // A window procedure may run a modal loop (a source's settings
        // dialog, a message box); requests it retrieves are kept meanwhile.
        ModalScope scope;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace dovrikna
