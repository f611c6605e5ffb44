#include "acquisition/acquisition_status.h"

namespace dovrikna {

std::atomic<int> acquisitionStatus{STATUS_PENDING};
void (*reportListener)(unsigned message, int status) = nullptr;

std::atomic<bool> pathWaiting{false};

namespace {
std::atomic<int> requestsInFlight{0};
}

void applyReport(unsigned message)
{
    int status;
    if (!statusForReport(message, &status)) return;
    // Told first, so that the report is on record before the Java side can act on it.
    if (reportListener) reportListener(message, status);
    if (status != STATUS_FINISHED) {
        acquisitionStatus.store(status);
        return;
    }
    // The status is read before the count: a request counted after the
    // check stores STATUS_PENDING after it too, and the exchange then fails.
    for (int seen = acquisitionStatus.load();;) {
        if (requestsInFlight.load() > 0) return;
        if (acquisitionStatus.compare_exchange_strong(seen, status)) return;
    }
}

void markRequestPending()
{
    requestsInFlight.fetch_add(1);
    // A path waiting in the block stays signalled: hidden behind
    // STATUS_PENDING it would never be taken, and signalled again later it
    // could be taken twice.
    for (int seen = acquisitionStatus.load(); seen != STATUS_SIGNALLED || !pathWaiting.load();)
        if (acquisitionStatus.compare_exchange_weak(seen, STATUS_PENDING)) return;
}

void requestTaken()
{
    requestsInFlight.fetch_sub(1);
}

int takeStatusLeavingIdle()
{
    return acquisitionStatus.exchange(STATUS_IDLE);
}

} // namespace dovrikna
