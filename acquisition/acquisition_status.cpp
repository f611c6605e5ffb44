#include "acquisition/acquisition_status.h"

#ifdef DOVRIKNA_WIDE_END_WINDOW
#include <chrono>
#include <thread>
#endif

namespace dovrikna {

AcquisitionStatusWord acquisitionStatus;
void (*reportListener)(unsigned message, int status) = nullptr;

std::atomic<bool> pathWaiting{false};

namespace {
// Requests marked pending and not yet taken by the worker.
std::atomic<int> requestsInFlight{0};
// One request more in the word's count.
const unsigned kOneRequest = 0x100;
} // namespace

void AcquisitionStatusWord::store(int status)
{
    for (unsigned seen = word.load(); !word.compare_exchange_weak(seen, withStatus(seen, status));) {
    }
}

int AcquisitionStatusWord::exchange(int status)
{
    unsigned seen = word.load();
    while (!word.compare_exchange_weak(seen, withStatus(seen, status))) {
    }
    return statusOf(seen);
}

unsigned readForEndReport()
{
    return acquisitionStatus.word.load();
}

bool storeEndReport(unsigned seen)
{
    // A request counted after the check below has also counted itself in the
    // word, since the read: the exchange fails, and the check then holds the
    // end back. A poll that came between leaves the count as it was: the
    // exchange is tried again on what the poll left.
    for (;;) {
        if (requestsInFlight.load() > 0) return false;
#ifdef DOVRIKNA_WIDE_END_WINDOW
        // A test build of the library: time for the Java side to request and
        // poll between the check and the exchange.
        std::this_thread::sleep_for(std::chrono::milliseconds(DOVRIKNA_WIDE_END_WINDOW));
#endif
        if (acquisitionStatus.word.compare_exchange_strong(
                seen, AcquisitionStatusWord::withStatus(seen, STATUS_FINISHED)))
            return true;
    }
}

void applyReport(unsigned message)
{
    int status;
    if (!statusForReport(message, &status)) return;
    // Told first, so that the report is on record before the Java side can act on it.
    if (reportListener) reportListener(message, status);
    if (status != STATUS_FINISHED)
        acquisitionStatus.store(status);
    else
        storeEndReport(readForEndReport());
}

void markRequestPending()
{
    requestsInFlight.fetch_add(1);
    // A path waiting in the block stays signalled: hidden behind
    // STATUS_PENDING it would never be taken, and signalled again later it
    // could be taken twice. The request is counted in the word either way.
    for (unsigned seen = acquisitionStatus.word.load();;) {
        const bool keep = AcquisitionStatusWord::statusOf(seen) == STATUS_SIGNALLED && pathWaiting.load();
        const unsigned counted = seen + kOneRequest;
        if (acquisitionStatus.word.compare_exchange_weak(
                seen, keep ? counted : AcquisitionStatusWord::withStatus(counted, STATUS_PENDING)))
            return;
    }
}

void requestTaken()
{
    // A request that was never marked (posted by another hand) leaves the
    // count as it is.
    for (int count = requestsInFlight.load(); count > 0;)
        if (requestsInFlight.compare_exchange_weak(count, count - 1)) return;
}

int takeStatusLeavingIdle()
{
    return acquisitionStatus.exchange(STATUS_IDLE);
}

} // namespace dovrikna
