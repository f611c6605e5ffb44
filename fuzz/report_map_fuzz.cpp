// Any sequence of reports, polls, requests and a path waiting or not: only the
// six reports change the status word, each to its own status (an end held back
// while a request is on its way), a request leaves a waiting path signalled,
// and a poll leaves STATUS_IDLE.
#include <cstring>

#include "acquisition/acquisition_status.h"
#include "acquisition/report_map.h"
#include "acquisition/twain_messages.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

namespace {

int expectedStatus(unsigned message)
{
    switch (message) {
    case TWM_SELECT_DONE: return STATUS_IDLE;
    case TWM_SELECT_FAILED:
    case TWM_FILE_READY: return STATUS_SIGNALLED;
    case TWM_ACQUIRE_DONE:
    case TWM_ACQUIRE_CANCELLED:
    case TWM_ACQUIRE_FAILED: return STATUS_FINISHED;
    default: return -1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    acquisitionStatus = STATUS_IDLE;
    pathWaiting = false;
    int model = STATUS_IDLE;
    int inFlight = 0; // requests marked pending and not yet taken by the worker
    for (std::size_t i = 0; i + 5 <= size; i += 5) {
        unsigned message;
        std::memcpy(&message, data + i + 1, sizeof message);
        // Most inputs would never name a report: the low bits of the action
        // byte pull the message into the report range.
        if (data[i] & 0x10) message = 1024 + message % 16;
        int status = -99;
        const bool isReport = statusForReport(message, &status);
        const int expected = expectedStatus(message);
        fuzz::require(isReport == (expected >= 0), "report or not", message);
        fuzz::require(status == (isReport ? expected : -99), "status of a report", message);
        switch (data[i] % 5) {
        case 0:
            applyReport(message);
            // An end is held back while a newer request is on its way.
            if (isReport && !(expected == STATUS_FINISHED && inFlight > 0)) model = expected;
            break;
        case 1:
            fuzz::require(takeStatusLeavingIdle() == model, "query result", model);
            model = STATUS_IDLE;
            break;
        case 2:
            markRequestPending();
            ++inFlight;
            // A signalled path that still waits in the block stays signalled.
            if (!(model == STATUS_SIGNALLED && pathWaiting.load())) model = STATUS_PENDING;
            break;
        case 3:
            if (inFlight > 0) {
                requestTaken();
                --inFlight;
            }
            break;
        default:
            pathWaiting = (data[i] & 0x20) != 0;
        }
        fuzz::require(acquisitionStatus.load() == model, "status word", acquisitionStatus.load());
    }
    // The count lives on between inputs: hand back every request left on its way.
    for (; inFlight > 0; --inFlight) requestTaken();
    return 0;
}
