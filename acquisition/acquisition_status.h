// AcquisitionStatus: the status word the Java side polls while TwainWorker
// (or the Launcher, through TwainWindow) reports.
#ifndef DOVRIKNA_ACQUISITION_ACQUISITION_STATUS_H
#define DOVRIKNA_ACQUISITION_ACQUISITION_STATUS_H

#include <atomic>

#include "acquisition/report_map.h"

namespace dovrikna {

// Every access is sequentially consistent: a writer fills the image-name block
// before its report stores STATUS_SIGNALLED, and the Java side reads the block
// only after it has loaded that value.
extern std::atomic<int> acquisitionStatus;

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
// next poll, never overwritten; a request's STATUS_PENDING stays only while
// an earlier acquisition's end is being stored (a few instructions).
int takeStatusLeavingIdle();

} // namespace dovrikna

#endif
