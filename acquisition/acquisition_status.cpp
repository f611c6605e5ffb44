#include "acquisition/acquisition_status.h"

#ifdef DOVRIKNA_WIDE_END_WINDOW
#include <chrono>
#include <thread>
#endif

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
    // check stores STATUS_PENDING after it too, and the exchange then fails
    // (a poll leaves that STATUS_PENDING alone, see takeStatusLeavingIdle).
    for (int seen = acquisitionStatus.load();;) {
        if (requestsInFlight.load() > 0) return;
#ifdef DOVRIKNA_WIDE_END_WINDOW
        // A test build of the library: time for the Java side to request and
        // poll between the check and the exchange.
        std::this_thread::sleep_for(std::chrono::milliseconds(DOVRIKNA_WIDE_END_WINDOW));
#endif
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
    // A request's STATUS_PENDING stays until the worker has taken the request.
    // Turned to STATUS_IDLE earlier, it would give back the very value that an
    // earlier acquisition's end, checked before the request was counted,
    // expects to replace: that end would then be taken for the newer one's.
    // The worker takes requests on the thread that reports ends, so while it
    // stores an end the count of a newer request cannot drop to 0.
    for (int seen = acquisitionStatus.load();;) {
        if (seen == STATUS_PENDING && requestsInFlight.load() > 0) return seen;
        if (acquisitionStatus.compare_exchange_weak(seen, STATUS_IDLE)) return seen;
    }
}

} // namespace dovrikna
