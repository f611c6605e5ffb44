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
// Requests marked pending and not yet taken by the worker, plus kEndBeingStored
// while an end is being stored.
std::atomic<int> requestsInFlight{0};
const int kEndBeingStored = 1 << 30;
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
    // An end is stored only while no request is on its way, and says so in the
    // count meanwhile. A request counted after that check stores STATUS_PENDING,
    // and polls leave it (takeStatusLeavingIdle), so the exchange below fails:
    // the end is then held back.
    int none = 0;
    if (!requestsInFlight.compare_exchange_strong(none, kEndBeingStored)) return;
    for (int seen = acquisitionStatus.load();;) {
#ifdef DOVRIKNA_WIDE_END_WINDOW
        // A test build of the library: time for the Java side to request and
        // poll between the check and the exchange.
        std::this_thread::sleep_for(std::chrono::milliseconds(DOVRIKNA_WIDE_END_WINDOW));
#endif
        if (acquisitionStatus.compare_exchange_strong(seen, status)) break;
        if (requestsInFlight.load() != kEndBeingStored) break;
    }
    requestsInFlight.fetch_sub(kEndBeingStored);
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
    // A request that was never marked (posted by another hand) leaves the
    // count as it is.
    for (int count = requestsInFlight.load(); (count & ~kEndBeingStored) > 0;)
        if (requestsInFlight.compare_exchange_weak(count, count - 1)) return;
}

int takeStatusLeavingIdle()
{
    // While an end is being stored, a request's STATUS_PENDING stays: turned to
    // STATUS_IDLE, it could give back the very value that the end, checked
    // before the request was counted, expects to replace, and the end would
    // then be taken for the newer acquisition's.
    for (int seen = acquisitionStatus.load();;) {
        const int inFlight = requestsInFlight.load();
        if (seen == STATUS_PENDING && inFlight > kEndBeingStored) return seen;
        if (acquisitionStatus.compare_exchange_weak(seen, STATUS_IDLE)) return seen;
    }
}

} // namespace dovrikna
