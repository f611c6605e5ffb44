#include "desktop/mail_failure.h"

namespace dovrikna {

const char kNoMailClientText[] =
    "The mail was not made: no mail client is set up (mapi32.dll is missing or has no MAPISendMail).";

namespace {

struct Reason {
    unsigned long result;
    const char* text;
};

// Simple MAPI's results (mapi.h), each as the person at the screen can act on it.
const Reason kReasons[] = {
    {2, "the mail client reported a failure"},
    {3, "the mail client could not log on"},
    {4, "the mail client's disk is full"},
    {5, "the mail client ran out of memory"},
    {6, "the mail client refused access"},
    {8, "the mail client has too many sessions open"},
    {9, "there are too many attachments"},
    {10, "there are too many recipients"},
    {11, "an attachment was not found"},
    {12, "an attachment could not be opened"},
    {13, "an attachment could not be written"},
    {14, "a recipient is unknown to the mail client"},
    {15, "a recipient's type is wrong"},
    {16, "the mail client has no messages"},
    {17, "the message is not valid"},
    {18, "the text is too large"},
    {19, "the mail client's session is not valid"},
    {20, "the attachment type is not supported"},
    {21, "a recipient name matches more than one address"},
    {22, "the message is in use"},
    {23, "the mail client could not reach the network"},
    {24, "the message's edit fields are not valid"},
    {25, "the recipients are not valid"},
    {26, "the mail client does not support this"},
    {27, "the mail client does not take Unicode names"},
    {28, "an attachment is too large"},
};

} // namespace

std::string mailFailureText(unsigned long result)
{
    if (result == 0 || result == 1) return "";
    const char* reason = "the mail client gave an unknown error";
    for (const Reason& entry : kReasons)
        if (entry.result == result) reason = entry.text;
    return std::string("The mail was not made: ") + reason + " (MAPI error " + std::to_string(result) + ").";
}

} // namespace dovrikna
