// Any sequence of messages reaching the status word: only the six reports
// change it, each to its own status, and a query leaves STATUS_IDLE.
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
    int model = STATUS_IDLE;
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
        switch (data[i] % 3) {
        case 0:
            applyReport(message);
            if (isReport) model = expected;
            break;
        case 1:
            fuzz::require(takeStatusLeavingIdle() == model, "query result", model);
            model = STATUS_IDLE;
            break;
        default:
            markRequestPending();
            model = STATUS_PENDING;
        }
        fuzz::require(acquisitionStatus.load() == model, "status word", acquisitionStatus.load());
    }
    return 0;
}
