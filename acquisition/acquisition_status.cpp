#include "acquisition/acquisition_status.h"

namespace dovrikna {

std::atomic<int> acquisitionStatus{STATUS_PENDING};

void applyReport(unsigned message)
{
    int status;
    if (statusForReport(message, &status)) acquisitionStatus.store(status);
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
