// The TWAIN session as TwainWorker drives it on the in-process path. Every
// operation works on the one session of the process and runs on TwainWorker.
#ifndef DOVRIKNA_ACQUISITION_TWAIN_SESSION_H
#define DOVRIKNA_ACQUISITION_TWAIN_SESSION_H

#include <windows.h>

namespace dovrikna {

// Makes the session, with TwainWindow as the parent of everything TWAIN shows.
void createSession(HWND ownerWindow);
// Deletes the session; this also destroys TwainWindow.
void deleteSession();
// The same, but the manager's module is left loaded and returned: freeing it
// takes the loader lock, which an unload of this library holds.
HMODULE deleteSessionKeepingManager();

void openDsm();
void closeDsm();
// True when a source identity was obtained: chosen by the user in the
// manager's dialog, or the manager's default source when useDefault is set.
bool chooseSource(bool useDefault);

// TWM_ACQUIRE: open the manager and the source and show the source's dialog.
void startAcquisition();
// TWM_NEXT_FILE: publish the next file, or end the acquisition.
void deliverNextFile();
// Offers one retrieved message to the enabled source (no call while none is
// enabled); true when the source took it, in which case it is neither
// translated nor dispatched.
bool filterEvent(MSG& message);

} // namespace dovrikna

#endif
