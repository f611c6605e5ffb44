#include "acquisition/twain_session.h"

// Not implemented yet: no data source manager is loaded, so no source is ever
// chosen and no message is taken by a source.

namespace dovrikna {

void createSession(HWND) {}
void deleteSession() {}
void openDsm() {}
void closeDsm() {}
bool chooseSource(bool) { return false; }
void startAcquisition() {}
void deliverNextFile() {}
bool filterEvent(MSG&) { return false; }

} // namespace dovrikna
