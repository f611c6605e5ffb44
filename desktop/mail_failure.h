// What the person at the screen is told when the mail client refuses a mail.
// No Windows header: the results are Simple MAPI's numbers.
#ifndef DOVRIKNA_DESKTOP_MAIL_FAILURE_H
#define DOVRIKNA_DESKTOP_MAIL_FAILURE_H

#include <string>

namespace dovrikna {

// The message box text for a result of MAPISendMail(W), naming what failed
// and the result's number; "" for success and for the user's own cancel
// (MAPI_USER_ABORT), which are not told.
std::string mailFailureText(unsigned long result);

// The text when there is no Simple MAPI to give the mail to.
extern const char kNoMailClientText[];

} // namespace dovrikna

#endif
