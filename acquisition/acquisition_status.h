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

// Turns a report message into its status; any other message changes nothing.
void applyReport(unsigned message);

} // namespace dovrikna

#endif
