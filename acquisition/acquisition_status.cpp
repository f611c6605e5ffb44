#include "acquisition/acquisition_status.h"

namespace dovrikna {

std::atomic<int> acquisitionStatus{STATUS_PENDING};
void (*reportListener)(unsigned message, int status) = nullptr;

void applyReport(unsigned message)
{
    int status;
    if (!statusForReport(message, &status)) return;
    // Told first, so that the report is on record before the Java side can act on it.
    if (reportListener) reportListener(message, status);
    acquisitionStatus.store(status);
}

void markRequestPending()
{
    acquisitionStatus.store(STATUS_PENDING);
}

int takeStatusLeavingIdle()
{
    return acquisitionStatus.exchange(STATUS_IDLE);
}

} // namespace dovrikna
