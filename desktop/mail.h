// Mail with attachments through Simple MAPI.
#ifndef DOVRIKNA_DESKTOP_MAIL_H
#define DOVRIKNA_DESKTOP_MAIL_H

namespace dovrikna {

// Unload step: frees the Simple MAPI library when it was loaded.
void releaseMailModule();

} // namespace dovrikna

#endif
