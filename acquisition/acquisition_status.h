// AcquisitionStatus: the status word the Java side polls while TwainWorker
// (or the Launcher, through TwainWindow) reports.
#ifndef DOVRIKNA_ACQUISITION_ACQUISITION_STATUS_H
#define DOVRIKNA_ACQUISITION_ACQUISITION_STATUS_H

#include <atomic>

#include "acquisition/report_map.h"

namespace dovrikna {

// The status, and above it in the same atomic word the number of requests
// marked pending so far. An end report stores itself by an exchange against
// the whole word as it read it, so a request marked in between makes the
// exchange fail even when it stored the very status the end read (a
// STATUS_PENDING over the STATUS_PENDING of a request that failed at once and
// was never polled). The Java side sees the status alone.
class AcquisitionStatusWord {
public:
    // Every access is sequentially consistent: a writer fills the image-name
    // block before its report stores STATUS_SIGNALLED, and the Java side reads
    // the block only after it has loaded that value.
    int load() const { return statusOf(word.load()); }
    // These keep the count of requests.
    void store(int status);
    int exchange(int status);
    AcquisitionStatusWord& operator=(int status)
    {
        store(status);
        return *this;
    }

    static int statusOf(unsigned word) { return static_cast<int>(word & 0xFF); }
    static unsigned withStatus(unsigned word, int status) { return (word & ~0xFFu) | static_cast<unsigned>(status); }
    std::atomic<unsigned> word{STATUS_PENDING};
};

extern AcquisitionStatusWord acquisitionStatus;

// A path waits in the image-name block: set by the writer before it signals
// the path, cleared when the Java side takes it or the hand-over ends.
extern std::atomic<bool> pathWaiting;

// Turns a report message into its status; any other message changes nothing.
void applyReport(unsigned message);

// Told of every report that applyReport applies, with the status it is about
// to store; null unless the conversation log is on.
extern void (*reportListener)(unsigned message, int status);

// A request is on its way: STATUS_PENDING, stored before the request is posted
// so that a fast report is never overwritten; the STATUS_SIGNALLED of a
// waiting path is left for the Java side to take. (Files that include windows.h
// cannot name STATUS_PENDING: winnt.h defines a macro of that name.)
void markRequestPending();

// A request marked pending has reached the worker, or was dropped: until every
// one has, an earlier acquisition's end (STATUS_FINISHED) is not reported, as
// the Java side would take it for the end of the newer request.
void requestTaken();

// Takes the status and leaves STATUS_IDLE in one atomic step, so that a report
// arriving while the Java side polls is either returned now or left for the
// next poll, never overwritten.
int takeStatusLeavingIdle();

// An end report (STATUS_FINISHED) as applyReport stores it, in its two steps,
// so that what may come between them can be tried: the word as the report
// reads it, and its store, which gives up when a request was marked since that
// read or is still on its way to the worker. True when the end was stored.
unsigned readForEndReport();
bool storeEndReport(unsigned seen);

} // namespace dovrikna

#endif
