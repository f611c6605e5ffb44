// sendFiles0 against the recording mapi32.dll stand-in: the message built from
// the two lists, the logon, send and logoff with their flags, the message boxes
// of a failed logon and of a refused send, the wide send for names outside the code page, and the
// loading of the module.
#include <windows.h>

#include <string>
#include <vector>

#include "library_test.h"
#include "mapi_standin.h"
#include "message_box_watcher.h"

namespace {

using Lines = std::vector<std::string>;

const char kLogon[] = "MAPILogon ui=0x0 profile=null password=null flags=0x3 reserved=0x0 session=set";
const char kLogoff[] = "MAPILogoff session=0x5E55 ui=0x0 flags=0x0 reserved=0x0";
const ULONG_PTR kSession = 0x5E55;

std::string send(const std::string& session, const std::string& function = "MAPISendMail")
{
    return function + " session=" + session + " ui=0x0 flags=0xB reserved=0x0 message=set";
}

std::string message(size_t recipients, size_t files)
{
    return " message reserved=0x0 subject=null note=null type=null date=null conversation=null flags=0x0"
           " originator=null recipients=" + std::to_string(recipients) + (recipients ? "/set" : "/null") +
           " files=" + std::to_string(files) + "/set";
}

std::string recipient(const std::string& token)
{
    return " recipient reserved=0x0 class=1 name=\"" + token + "\" address=\"" + token + "\" entry=0/null";
}

std::string file(const std::string& path, const std::string& name)
{
    return " file reserved=0x0 flags=0x0 position=0xFFFFFFFF path=\"" + path + "\" name=\"" + name + "\" type=null";
}

// The whole log of one request whose logon gave kSession.
Lines mailed(const std::vector<std::string>& recipients, const std::vector<std::pair<std::string, std::string>>& files,
             const std::string& function = "MAPISendMail")
{
    Lines lines = {kLogon, send("0x5E55", function), message(recipients.size(), files.size())};
    for (const std::string& token : recipients) lines.push_back(recipient(token));
    for (const auto& entry : files) lines.push_back(file(entry.first, entry.second));
    lines.push_back(kLogoff);
    return lines;
}

Lines linesOf(const std::string& text)
{
    Lines lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
    }
    return lines.empty() ? Lines{""} : lines;
}

std::string binFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

class MailTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        // The test's own reference: the stand-in stays loaded between
        // requests and can be told how to answer before the first one.
        standinModule_ = LoadLibraryA("mapi32.dll");
        ASSERT_TRUE(standin().ok()) << "mapi32.dll is not the stand-in (WINEDLLOVERRIDES=mapi32=n,b?)";
        standin().configure(0, kSession);
    }
    void TearDown() override
    {
        if (standinModule_) FreeLibrary(standinModule_);
    }

    MapiStandin standin() const { return MapiStandin(standinModule_); }

    // One request; the stand-in's log of it.
    Lines request(jchar separator, const std::string& attachments, const std::string& recipients)
    {
        standin().clear();
        EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, separator, jvm.newString(attachments),
                                                                 jvm.newString(recipients)));
        return standin().lines();
    }

    HMODULE standinModule_ = nullptr;
};

TEST_F(MailTest, RecipientsAreTheTokensOfTheirList)
{
    struct Row {
        std::string list;
        std::vector<std::string> tokens;
    };
    const Row rows[] = {
        {"a;b", {"a", "b"}},
        {"a;", {"a", ""}},
        {"a;;b", {"a", "", "b"}},
        {";", {"", ""}},
        {"someone@example.org", {"someone@example.org"}},
        {"", {}}, // no recipient array at all
    };
    MessageBoxWatcher watcher;
    for (const Row& row : rows)
        EXPECT_EQ(mailed(row.tokens, {{"C:\\x.jpg", "x.jpg"}}), request(';', "C:\\x.jpg", row.list))
            << "recipients \"" << row.list << "\"";
    watcher.stop();
    EXPECT_EQ(0u, watcher.boxes().size());
}

TEST_F(MailTest, AttachmentsCarryTheirPathAndFileNamePart)
{
    struct Row {
        std::string list;
        std::vector<std::pair<std::string, std::string>> files;
    };
    const Row rows[] = {
        {"C:\\photos\\x.jpg", {{"C:\\photos\\x.jpg", "x.jpg"}}},
        {"C:x.jpg", {{"C:x.jpg", "x.jpg"}}},
        {"x.jpg", {{"x.jpg", "x.jpg"}}},
        {"C:\\photos\\", {{"C:\\photos\\", ""}}},
        {"", {{"", ""}}}, // one empty attachment
        {"C:\\a\\x.jpg;D:y.png;;", {{"C:\\a\\x.jpg", "x.jpg"}, {"D:y.png", "y.png"}, {"", ""}, {"", ""}}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(mailed({"a"}, row.files), request(';', row.list, "a")) << "attachments \"" << row.list << "\"";
}

TEST_F(MailTest, OnlyTheLowByteOfTheSeparatorCountsAndOnlyUpTo0x7F)
{
    struct Row {
        jchar separator;
        std::vector<std::string> tokens;
    };
    const std::string list = "a,b;c\x7F" "d";
    const Row rows[] = {
        {',', {"a", "b;c\x7F" "d"}},
        {0x7F, {"a,b;c", "d"}},
        {0x013B, {"a,b", "c\x7F" "d"}}, // low byte ';'
        // No separator: each list is one token.
        {0x0000, {list}},
        {0x0080, {list}},
        {0x00A7, {list}},
        {0x00FF, {list}},
        {0x0100, {list}},
    };
    for (const Row& row : rows) {
        std::vector<std::pair<std::string, std::string>> files;
        for (const std::string& token : row.tokens) files.push_back({token, token});
        EXPECT_EQ(mailed(row.tokens, files), request(row.separator, list, list)) << "separator " << row.separator;
    }
}

// Java's UTF-16 in a process of code page 1252: a name the code page cannot
// hold sends the whole message wide, every name in it; ANSI names alone keep
// the ANSI send.
TEST_F(MailTest, ANameOutsideTheCodePageSendsTheWholeMessageWide)
{
    ASSERT_EQ(1252u, GetACP());
    struct Row {
        std::string attachments, recipients;
        Lines log;
    };
    const std::string julia = "\xD0\xAE\xD0\xBB\xD1\x8F <j@example.org>"; // Cyrillic Yu, el, ya
    const std::string photo = "C:\\\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE\\x.jpg";  // a folder in Cyrillic, no short name
    const Row rows[] = {
        {"C:\\x.jpg", julia, mailed({julia}, {{"C:\\x.jpg", "x.jpg"}}, "MAPISendMailW")},
        {"C:\\x.jpg", "a;" + julia, mailed({"a", julia}, {{"C:\\x.jpg", "x.jpg"}}, "MAPISendMailW")},
        {photo + ";C:\\\xC3\xA9t\xC3\xA9.jpg", "", // the second one fits 1252, and goes wide too
         mailed({}, {{photo, "x.jpg"}, {"C:\\\xC3\xA9t\xC3\xA9.jpg", "\xC3\xA9t\xC3\xA9.jpg"}}, "MAPISendMailW")},
        {"C:\\\xC3\xA9t\xC3\xA9.jpg", "a", mailed({"a"}, {{"C:\\\xE9t\xE9.jpg", "\xE9t\xE9.jpg"}})},
    };
    MessageBoxWatcher watcher;
    for (const Row& row : rows)
        EXPECT_EQ(row.log, request(';', row.attachments, row.recipients)) << row.attachments << " to " << row.recipients;
    watcher.stop();
    EXPECT_EQ(0u, watcher.boxes().size());
}

TEST_F(MailTest, LogoffOnlyFollowsALogonThatLeftASession)
{
    standin().configure(0, 0);
    EXPECT_EQ(Lines({kLogon, send("0x0"), message(1, 1), recipient("a"), file("x", "x")}), request(';', "x", "a"));
}

// Every answer of the client's send but success and the user's cancel is told
// in one box, after the session is closed; sendFiles0 returns 0 all the same.
TEST_F(MailTest, EveryRefusalButTheUsersCancelIsToldInOneBox)
{
    const std::string julia = "\xD0\xAE\xD0\xBB\xD1\x8F"; // goes wide
    const struct {
        ULONG result;
        std::string recipient, told;
    } rows[] = {
        {SUCCESS_SUCCESS, "a", ""},
        {MAPI_USER_ABORT, "a", ""},
        {MAPI_USER_ABORT, julia, ""},
        {MAPI_E_FAILURE, "a", "The mail was not made: the mail client reported a failure (MAPI error 2)."},
        {MAPI_E_LOGIN_FAILURE, "a", "The mail was not made: the mail client could not log on (MAPI error 3)."},
        {MAPI_E_ATTACHMENT_NOT_FOUND, "a", "The mail was not made: an attachment was not found (MAPI error 11)."},
        {MAPI_E_ATTACHMENT_NOT_FOUND, julia, "The mail was not made: an attachment was not found (MAPI error 11)."},
        {MAPI_E_UNKNOWN_RECIPIENT, "a",
         "The mail was not made: a recipient is unknown to the mail client (MAPI error 14)."},
        {MAPI_E_AMBIGUOUS_RECIPIENT, "a",
         "The mail was not made: a recipient name matches more than one address (MAPI error 21)."},
        {MAPI_E_NOT_SUPPORTED, "a", "The mail was not made: the mail client does not support this (MAPI error 26)."},
        {0xBAD, "a", "The mail was not made: the mail client gave an unknown error (MAPI error 2989)."},
    };
    for (const auto& row : rows) {
        standin().configure(0, kSession, row.result);
        MapiStandin mapi = standin();
        MessageBoxWatcher watcher([mapi] { return mapi.text(); });
        const Lines log = request(';', "x", row.recipient);
        watcher.stop();
        const std::string send = row.recipient == "a" ? "MAPISendMail" : "MAPISendMailW";
        EXPECT_EQ(mailed({row.recipient}, {{"x", "x"}}, send), log) << row.result;
        const std::vector<MessageBoxWatcher::Box> boxes = watcher.boxes();
        ASSERT_EQ(row.told.empty() ? 0u : 1u, boxes.size()) << send << " answered " << row.result;
        if (boxes.empty()) continue;
        EXPECT_EQ(row.told, boxes[0].text);
        EXPECT_EQ("Mail Error", boxes[0].caption);
        EXPECT_FALSE(boxes[0].owned);
        EXPECT_EQ(kLogoff, linesOf(boxes[0].seen).back()) << "the box came before the logoff";
    }
}

TEST_F(MailTest, AFailedLogonShowsOneBoxAndTheSendIsStillMade)
{
    MapiStandin mapi = standin();
    MessageBoxWatcher watcher([mapi] { return mapi.text(); });
    standin().configure(MAPI_E_LOGIN_FAILURE, 0);
    EXPECT_EQ(Lines({kLogon, send("0x0"), message(1, 1), recipient("a"), file("x", "x")}), request(';', "x", "a"));

    // A failed logon that still left a session: the session is used and closed.
    standin().configure(MAPI_E_USER_ABORT, kSession);
    EXPECT_EQ(mailed({"a"}, {{"x", "x"}}), request(';', "x", "a"));
    watcher.stop();

    std::vector<MessageBoxWatcher::Box> boxes = watcher.boxes();
    ASSERT_EQ(2u, boxes.size());
    for (const MessageBoxWatcher::Box& box : boxes) {
        EXPECT_EQ("Failed to open mail client.", box.text);
        EXPECT_EQ("Mail Error", box.caption);
        EXPECT_FALSE(box.owned);
        // Up between the logon and the send.
        EXPECT_EQ(std::string(kLogon) + "\n", box.seen);
    }
}

TEST_F(MailTest, NullStringsAndFailingStringGetsMailNothing)
{
    MessageBoxWatcher watcher;
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', nullptr, jvm.newString("a")));
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString("x"), nullptr));
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', nullptr, nullptr));
    EXPECT_EQ(std::vector<std::string>(), jvm.calls());

    jvm.failStringGets(true);
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString("x"),
                                                             jvm.newString("a")));
    watcher.stop();
    EXPECT_EQ("", standin().text());
    EXPECT_EQ(0u, watcher.boxes().size());
}

TEST_F(MailTest, StringsAreTakenAndGivenBackInOrder)
{
    request(';', "x", "a");
    EXPECT_EQ(std::vector<std::string>({"GetStringUTFChars", "GetStringUTFChars", "ReleaseStringUTFChars",
                                        "ReleaseStringUTFChars"}),
              jvm.calls());
}

using MailModuleTest = LibraryTest;

TEST_F(MailModuleTest, TwoRequestsLoadTheModuleOnceAndUnloadReleasesIt)
{
    ASSERT_EQ(nullptr, GetModuleHandleA("mapi32.dll"));
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString("x"), jvm.newString("a")));
    MapiStandin standin = MapiStandin::loaded();
    ASSERT_TRUE(standin.ok());
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString("y"), jvm.newString("b")));
    EXPECT_EQ(mailed({"a"}, {{"x", "x"}}).size() * 2, standin.lines().size()) << standin.text();

    // One reference was taken, and the unload gives it back.
    lib.unload();
    EXPECT_EQ(nullptr, GetModuleHandleA("mapi32.dll"));
}

TEST_F(MailModuleTest, WithoutMapiSendMailNothingIsCalledOrKeptAndTheUserIsTold)
{
    // The variant without MAPISendMail, loaded first: the library's
    // LoadLibraryA("mapi32.dll") then gets this module.
    HMODULE variant = LoadLibraryA((binFolder() + "mapi32-nosend\\mapi32.dll").c_str());
    ASSERT_NE(nullptr, variant);
    MapiStandin standin(variant);
    ASSERT_TRUE(standin.ok());
    ASSERT_EQ(nullptr, GetProcAddress(variant, "MAPISendMail"));

    MessageBoxWatcher watcher;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString("x"),
                                                                 jvm.newString("a")));
    watcher.stop();
    const std::vector<MessageBoxWatcher::Box> boxes = watcher.boxes();
    ASSERT_EQ(2u, boxes.size());
    for (const MessageBoxWatcher::Box& box : boxes) {
        EXPECT_EQ("The mail was not made: no mail client is set up (mapi32.dll is missing or has no MAPISendMail).",
                  box.text);
        EXPECT_EQ("Mail Error", box.caption);
    }
    EXPECT_EQ("", standin.text());
    EXPECT_EQ(variant, GetModuleHandleA("mapi32.dll"));

    // The library kept no reference of its own.
    FreeLibrary(variant);
    EXPECT_EQ(nullptr, GetModuleHandleA("mapi32.dll"));
}

// A client without MAPISendMailW: a file outside the code page goes by its
// short name where it has one; a name that still has no ANSI form is not
// given to the client, and the user is told.
TEST_F(MailModuleTest, WithoutTheWideSendANameWithoutAnsiFormIsToldToTheUser)
{
    HMODULE variant = LoadLibraryA((binFolder() + "mapi32-ansi\\mapi32.dll").c_str());
    ASSERT_NE(nullptr, variant);
    MapiStandin standin(variant);
    ASSERT_TRUE(standin.ok());
    ASSERT_EQ(nullptr, GetProcAddress(variant, "MAPISendMailW"));
    standin.configure(0, kSession);

    const std::string julia = "\xD0\xAE\xD0\xBB\xD1\x8F";
    const std::string cyrillicFolder = "C:\\\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE\\x.jpg"; // missing: no short name
    const struct {
        std::string attachments, recipients;
    } rows[] = {{"x", julia}, {cyrillicFolder, "a"}};
    MessageBoxWatcher watcher([standin] { return standin.text(); });
    for (const auto& row : rows)
        EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString(row.attachments),
                                                                 jvm.newString(row.recipients)));
    watcher.stop();
    EXPECT_EQ("", standin.text());
    std::vector<MessageBoxWatcher::Box> boxes = watcher.boxes();
    ASSERT_EQ(2u, boxes.size());
    for (const MessageBoxWatcher::Box& box : boxes) {
        EXPECT_EQ("Failed to give the recipients or attachments to mail client.", box.text);
        EXPECT_EQ("Mail Error", box.caption);
        EXPECT_FALSE(box.owned);
    }
    FreeLibrary(variant);
}

TEST_F(MailModuleTest, AClientWithoutLogonIsSentToWithoutASession)
{
    HMODULE variant = LoadLibraryA((binFolder() + "mapi32-nologon\\mapi32.dll").c_str());
    ASSERT_NE(nullptr, variant);
    MapiStandin standin(variant);
    ASSERT_TRUE(standin.ok());
    ASSERT_EQ(nullptr, GetProcAddress(variant, "MAPILogon"));
    ASSERT_EQ(nullptr, GetProcAddress(variant, "MAPILogoff"));
    standin.configure(0, kSession);

    MessageBoxWatcher watcher;
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString("x"), jvm.newString("a")));
    watcher.stop();
    EXPECT_EQ(0u, watcher.boxes().size());
    // MAPISendMail logs on by itself (MAPI_LOGON_UI | MAPI_NEW_SESSION).
    EXPECT_EQ(Lines({send("0x0"), message(1, 1), recipient("a"), file("x", "x")}), standin.lines());
    FreeLibrary(variant);
}

} // namespace
