#include "com_quenlark_ui_awt_AwtUtil.h"

#include <windows.h>
#include <mapi.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "desktop/heap_string.h"
#include "desktop/mail.h"
#include "desktop/mail_failure.h"
#include "desktop/mail_lists.h"
#include "desktop/mapi_wide.h"
#include "frame/failure_log.h"
#include "frame/java_strings.h"
#include "frame/jni_scoped.h"

namespace dovrikna {

namespace {

// Simple MAPI, loaded by the first request that finds MAPISendMail in it and
// kept until the library unloads. mapiSendMail is stored last: once it is
// set, the others are too and no request resolves again. MAPISendMailW
// (Windows 8 and later, Wine) stays null where the module lacks it.
HMODULE mailModule = nullptr;
std::atomic<LPMAPILOGON> mapiLogon{nullptr};
std::atomic<LPMAPILOGOFF> mapiLogoff{nullptr};
std::atomic<LPMAPISENDMAILW> mapiSendMailW{nullptr};
std::atomic<LPMAPISENDMAIL> mapiSendMail{nullptr};
// Two requests may come at once before the first resolution is done. A flag
// needs no set-up and no function newer than the oldest Windows we load on;
// the one who waits only waits for a LoadLibraryA.
std::atomic_flag resolving = ATOMIC_FLAG_INIT;

const ULONG kLogonFlags = MAPI_LOGON_UI | MAPI_NEW_SESSION;
const ULONG kSendFlags = MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG;
const char kMailError[] = "Mail Error";

// A zero-filled record array made with calloc.
template <typename Record>
struct calloc_traits {
    using type = Record*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { std::free(value); }
};
template <typename Record>
using unique_records = unique_handle<calloc_traits<Record>>;

template <typename Record>
unique_records<Record> allocateRecords(std::size_t count)
{
    return unique_records<Record>(static_cast<Record*>(std::calloc(count, sizeof(Record))));
}

// Lead bytes of the process's ANSI code page.
bool isAnsiLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

template <typename Function>
Function entryPoint(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loads "mapi32.dll" and takes its three entry points, unless an earlier
// request already has. False when there is no MAPISendMail; the library is
// then let go again, and the next request tries anew.
bool resolveMail()
{
    if (mapiSendMail.load()) return true;
    while (resolving.test_and_set(std::memory_order_acquire)) Sleep(1);
    if (!mapiSendMail.load()) {
        HMODULE module = LoadLibraryA("mapi32.dll");
        mailModule = module;
        if (module) {
            mapiLogon.store(entryPoint<LPMAPILOGON>(module, "MAPILogon"));
            mapiLogoff.store(entryPoint<LPMAPILOGOFF>(module, "MAPILogoff"));
            mapiSendMailW.store(entryPoint<LPMAPISENDMAILW>(module, "MAPISendMailW"));
            mapiSendMail.store(entryPoint<LPMAPISENDMAIL>(module, "MAPISendMail"));
            if (!mapiSendMail.load()) {
                mapiLogon.store(nullptr);
                mapiLogoff.store(nullptr);
                mapiSendMailW.store(nullptr);
                FreeLibrary(module);
                mailModule = nullptr;
            }
        }
    }
    bool resolved = mapiSendMail.load() != nullptr;
    resolving.clear(std::memory_order_release);
    return resolved;
}

// A refused mail is never silent: the person clicked "mail" and waits for
// the compose window. Their own cancel is not told back to them.
void tellMailFailure(ULONG result)
{
    const std::string text = mailFailureText(result);
    if (!text.empty()) MessageBoxA(nullptr, text.c_str(), kMailError, MB_OK);
}

// Opens the client's compose window for the message, sent with `send`, and
// tells the client's refusal once the session is closed. A client without
// MAPILogon (or MAPILogoff) is sent to without a session of our own: the
// send then logs on by itself.
template <typename Send>
void runMailOperation(Send send)
{
    LHANDLE session = 0;
    if (LPMAPILOGON logon = mapiLogon.load()) {
        if (logMailResult("MAPILogon", logon(0, nullptr, nullptr, kLogonFlags, 0, &session)) != SUCCESS_SUCCESS)
            MessageBoxA(nullptr, "Failed to open mail client.", kMailError, MB_OK);
    }
    const ULONG result = logMailResult("MAPISendMail", send(session));
    if (session != 0) {
        if (LPMAPILOGOFF logoff = mapiLogoff.load()) logoff(session, 0, 0, 0);
    }
    tellMailFailure(result);
}

const wchar_t* wideFileNamePart(const std::wstring& path)
{
    const std::size_t end = path.find_last_of(L"\\:");
    return path.c_str() + (end == std::wstring::npos ? 0 : end + 1);
}

std::vector<std::wstring> wideTokens(const std::u16string& list, unsigned char separator)
{
    std::vector<std::wstring> tokens;
    for (const std::u16string& token : splitWideList(list, separator))
        tokens.emplace_back(token.begin(), token.end());
    return tokens;
}

// The same message as the ANSI one, every name in UTF-16.
void sendWide(const MailRequest& request, LPMAPISENDMAILW send)
{
    std::vector<std::wstring> recipients;
    if (!request.wideRecipients.empty()) recipients = wideTokens(request.wideRecipients, request.separator);
    std::vector<std::wstring> attachments = wideTokens(request.wideAttachments, request.separator);

    std::vector<MapiRecipDescW> recipientArray(recipients.size(), MapiRecipDescW());
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        recipientArray[i].ulRecipClass = MAPI_TO;
        recipientArray[i].lpszName = &recipients[i][0];
        recipientArray[i].lpszAddress = &recipients[i][0];
    }
    std::vector<MapiFileDescW> attachmentArray(attachments.size(), MapiFileDescW());
    for (std::size_t i = 0; i < attachments.size(); ++i) {
        attachmentArray[i].nPosition = static_cast<ULONG>(-1);
        attachmentArray[i].lpszPathName = &attachments[i][0];
        attachmentArray[i].lpszFileName = const_cast<wchar_t*>(wideFileNamePart(attachments[i]));
    }

    MapiMessageW message = MapiMessageW();
    message.nRecipCount = static_cast<ULONG>(recipients.size());
    message.lpRecips = recipients.empty() ? nullptr : recipientArray.data();
    message.nFileCount = static_cast<ULONG>(attachments.size());
    message.lpFiles = attachmentArray.data();
    runMailOperation([&](LHANDLE session) { return send(session, 0, &message, kSendFlags, 0); });
}

} // namespace

int sendMailRequest(std::unique_ptr<MailRequest> request)
{
    const unsigned char separator = request->separator;

    // A name without an exact ANSI form: the wide send where the client has
    // one; else the ANSI lists with short names, and where even they could
    // not be made the user is told that this mail cannot be made.
    if (request->wideLists) {
        if (!resolveMail()) {
            MessageBoxA(nullptr, kNoMailClientText, kMailError, MB_OK);
            return logMailNotSent("no mapi32.dll with MAPISendMail");
        }
        if (LPMAPISENDMAILW send = mapiSendMailW.load()) {
            try {
                sendWide(*request, send);
            } catch (...) {
            }
            return 0;
        }
        if (!request->attachmentList || !request->recipientList) {
            MessageBoxA(nullptr, "Failed to give the recipients or attachments to mail client.", kMailError, MB_OK);
            return logMailNotSent("a name without an ANSI form, and a client without MAPISendMailW");
        }
    }

    // One MAPI_TO recipient per token, name and address alike; none at all
    // for an empty list.
    char* recipients = request->recipientList.get();
    ULONG recipientCount = 0;
    unique_records<MapiRecipDesc> recipientArray;
    if (recipients[0] != '\0') {
        std::size_t count = countTokens(recipients, separator, isAnsiLeadByte);
        recipientArray = allocateRecords<MapiRecipDesc>(count);
        if (!recipientArray) return 0;
        char* cursor = recipients;
        for (std::size_t i = 0; i < count; ++i) {
            char* token = takeToken(&cursor, separator, isAnsiLeadByte);
            recipientArray.get()[i].ulRecipClass = MAPI_TO;
            recipientArray.get()[i].lpszName = token;
            recipientArray.get()[i].lpszAddress = token;
        }
        recipientCount = static_cast<ULONG>(count);
    }

    // One attachment per token, an empty list giving one empty attachment.
    // nPosition -1: no place in the body text.
    char* attachments = request->attachmentList.get();
    std::size_t attachmentCount = countTokens(attachments, separator, isAnsiLeadByte);
    unique_records<MapiFileDesc> attachmentArray = allocateRecords<MapiFileDesc>(attachmentCount);
    if (!attachmentArray) return 0;
    char* cursor = attachments;
    for (std::size_t i = 0; i < attachmentCount; ++i) {
        char* token = takeToken(&cursor, separator, isAnsiLeadByte);
        attachmentArray.get()[i].nPosition = static_cast<ULONG>(-1);
        attachmentArray.get()[i].lpszPathName = token;
        attachmentArray.get()[i].lpszFileName = const_cast<char*>(fileNamePart(token));
    }

    if (!resolveMail()) {
        MessageBoxA(nullptr, kNoMailClientText, kMailError, MB_OK);
        return logMailNotSent("no mapi32.dll with MAPISendMail");
    }

    MapiMessage message;
    ZeroMemory(&message, sizeof message);
    message.nRecipCount = recipientCount;
    message.lpRecips = recipientArray.get();
    message.nFileCount = static_cast<ULONG>(attachmentCount);
    message.lpFiles = attachmentArray.get();
    runMailOperation([&](LHANDLE session) { return mapiSendMail.load()(session, 0, &message, kSendFlags, 0); });

    recipientArray.reset();
    attachmentArray.reset();
    request.reset();
    return 0;
}

void releaseMailModule()
{
    if (mailModule) FreeLibrary(mailModule);
    mailModule = nullptr;
}

} // namespace dovrikna

using namespace dovrikna;

namespace {

// A list for MAPISendMail, which knows ANSI text only: each token in the
// process's code page, the separator between them. With `paths`, an
// attachment outside the code page goes by its file's short name; a recipient,
// or a file without a short name that fits, makes the list fail.
bool ansiList(const std::u16string& list, unsigned char separator, bool paths, std::string& ansi)
{
    ansi.clear();
    bool first = true;
    for (const std::u16string& token : splitWideList(list, separator)) {
        std::string converted;
        if (!(paths ? ansiPath(token, converted) : ansiFromWide(token, CP_ACP, converted))) return false;
        if (!first) ansi += static_cast<char>(separator);
        ansi += converted;
        first = false;
    }
    return true;
}

} // namespace

extern "C" JNIEXPORT jint JNICALL Java_com_quenlark_ui_awt_AwtUtil_sendFiles0(JNIEnv* env, jclass, jchar separator,
                                                                              jstring attachments, jstring recipients)
{
    if (!attachments || !recipients) return logMailNotSent("a null list");
    std::unique_ptr<MailRequest> request(new (std::nothrow) MailRequest);
    if (!request) return logMailNotSent("out of memory");

    ScopedJavaString attachmentText(env, attachments);
    if (!attachmentText.ok()) return logMailNotSent("an attachment list that holds U+0000");
    ScopedJavaString recipientText(env, recipients);
    if (!recipientText.ok()) return logMailNotSent("a recipient list that holds U+0000");

    // The separator is the low byte of its argument.
    request->separator = static_cast<unsigned char>(separator & 0xFF);
    try {
        // Never a look-alike name: every name exactly in ANSI, or the lists
        // go to the client as UTF-16 where it takes them.
        const std::u16string& files = attachmentText.text();
        const std::u16string& people = recipientText.text();
        std::string attachmentList, recipientList;
        const bool exact = ansiList(files, request->separator, false, attachmentList)
                           && ansiList(people, request->separator, false, recipientList);
        if (!exact) {
            request->wideLists = true;
            request->wideAttachments = files;
            request->wideRecipients = people;
        }
        // For a client without the wide send: files outside the code page by
        // their short names; no ANSI lists when that fails too.
        if (exact || (ansiList(files, request->separator, true, attachmentList)
                      && ansiList(people, request->separator, false, recipientList))) {
            request->attachmentList = heapCopy(attachmentList.c_str());
            request->recipientList = heapCopy(recipientList.c_str());
            if (!request->attachmentList || !request->recipientList) return 0;
        }
    } catch (...) {
        return logMailNotSent("out of memory");
    }

    sendMailRequest(std::move(request));

    attachmentText.release();
    recipientText.release();
    return 0;
}
