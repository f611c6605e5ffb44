#include "acquisition/report_map.h"

#include "acquisition/twain_messages.h"

namespace dovrikna {

bool statusForReport(unsigned message, int* status)
{
    switch (message) {
    case TWM_SELECT_DONE: *status = STATUS_IDLE; return true;
    case TWM_SELECT_FAILED:
    case TWM_FILE_READY: *status = STATUS_SIGNALLED; return true;
    case TWM_ACQUIRE_DONE:
    case TWM_ACQUIRE_CANCELLED:
    case TWM_ACQUIRE_FAILED: *status = STATUS_FINISHED; return true;
    default: return false;
    }
}

} // namespace dovrikna
