// Mail with attachments through Simple MAPI.
#ifndef DOVRIKNA_DESKTOP_MAIL_H
#define DOVRIKNA_DESKTOP_MAIL_H

#include <memory>

#include "frame/unique_handle.h"

namespace dovrikna {

// One request to open the mail client's compose window: the files to attach
// and the recipients, each a list split at the separator byte. The lists are
// heap copies of the Java strings in the process's ANSI code page; the
// sender splits them in place.
struct MailRequest {
    unsigned char separator = 0;
    unique_malloc_string attachmentList;
    unique_malloc_string recipientList;

    ~MailRequest()
    {
        attachmentList.reset();
        recipientList.reset();
    }
};

// Runs the mail operation on this thread (the client's dialogs are modal)
// and frees everything the request holds before it returns. Returns 0.
int sendMailRequest(std::unique_ptr<MailRequest> request);

// Unload step: frees the Simple MAPI library when it was loaded.
void releaseMailModule();

} // namespace dovrikna

#endif
