// Mail with attachments through Simple MAPI.
#ifndef DOVRIKNA_DESKTOP_MAIL_H
#define DOVRIKNA_DESKTOP_MAIL_H

#include <memory>
#include <string>

#include "frame/unique_handle.h"

namespace dovrikna {

// One request to open the mail client's compose window: the files to attach
// and the recipients, each a list split at the separator byte. The lists are
// heap copies of the Java strings in the process's ANSI code page; the
// sender splits them in place. When a name has no exact ANSI form, the
// lists are kept as Java gave them too (wideLists), for a client that takes
// UTF-16; the ANSI lists then name such files by their short names, and are
// null when even that fails (a recipient outside the code page).
struct MailRequest {
    unsigned char separator = 0;
    unique_malloc_string attachmentList;
    unique_malloc_string recipientList;
    bool wideLists = false;
    std::u16string wideAttachments;
    std::u16string wideRecipients;

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
