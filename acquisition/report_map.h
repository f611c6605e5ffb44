// Which AcquisitionStatus value a report message stands for.
#ifndef DOVRIKNA_ACQUISITION_REPORT_MAP_H
#define DOVRIKNA_ACQUISITION_REPORT_MAP_H

namespace dovrikna {

enum AcquisitionStatusValue : int {
    STATUS_PENDING = 0,   // a request is on its way, nothing reported yet
    STATUS_IDLE = 1,      // a source was chosen; or nothing new since the last query
    STATUS_SIGNALLED = 2, // no source was chosen; or a path waits in the image-name block
    STATUS_FINISHED = 3,  // the acquisition is over
};

// The status a report sets; false for every message that is no report
// (requests, the unload notice, system messages), which leave the status alone.
bool statusForReport(unsigned message, int* status);

} // namespace dovrikna

#endif
