// Paths with characters outside ASCII through the natives as Java calls
// them, built twice: for a process of code page 1252 (en_US.UTF-8) and one
// of code page 932 (ja_JP.UTF-8). A name the code page holds goes to an ANSI
// interface as its ANSI text; one it cannot hold takes a wide function, or
// the file's short name, or fails, and never names a look-alike: beside
// every file lie decoys named as a best-fit conversion and as the string's
// modified UTF-8 read as ANSI would name it, and none is ever touched.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foreign_names.h"
#include "mapi_standin.h"
#include "open_recorder_client.h"
#include "scanning_fixture.h"

namespace {

using Name = ForeignName;
const auto& kNames = kForeignNames;

bool inCodePage(const Name& name)
{
    return inCodePage(name, GetACP());
}

// Windows 9x (the build that sees it) has ANSI functions only: a name
// outside the code page reaches nothing there.
#ifdef DOVRIKNA_WINDOWS_9X
constexpr bool kWindows9x = true;
#else
constexpr bool kWindows9x = false;
#endif
bool reachable(const Name& name)
{
    return inCodePage(name) || !kWindows9x;
}

// Platform text of the test's own making, by the platform's own conversions.
std::string ansi(const std::wstring& text)
{
    std::string bytes(text.size() * 2 + 1, '\0');
    bytes.resize(WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &bytes[0], static_cast<int>(bytes.size()),
                                     nullptr, nullptr));
    if (!bytes.empty()) bytes.pop_back();
    return bytes;
}
std::wstring fromAnsi(const std::string& bytes)
{
    std::wstring text(bytes.size() + 1, L'\0');
    text.resize(MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, &text[0], static_cast<int>(text.size())));
    if (!text.empty()) text.pop_back();
    return text;
}

// Names that a wrong conversion of `text` would give, where they can be file
// names and differ from it: the best-fit look-alike, and the UTF-8 bytes read
// as ANSI.
std::vector<std::wstring> lookAlikes(const std::string& text)
{
    std::vector<std::wstring> names;
    for (const std::wstring& candidate : {fromAnsi(ansi(wide(text))), fromAnsi(text)})
        if (candidate != wide(text) && candidate.find_first_of(L"?*\"<>|") == std::wstring::npos)
            names.push_back(candidate);
    return names;
}

bool writeFile(const std::wstring& path, const char* content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, content, static_cast<DWORD>(std::strlen(content)), &written, nullptr);
    CloseHandle(file);
    return true;
}

std::string readFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[64];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

// The value between `key="` and the next quote in the stand-in's line of the attachment.
std::string field(const std::string& log, const std::string& key)
{
    const std::string line = log.substr(std::min(log.size(), log.find(" file ")));
    size_t start = line.find(key + "=\"");
    if (start == std::string::npos) return "<none>";
    start += key.size() + 2;
    return line.substr(start, line.find('"', start) - start);
}

class PathStrings : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        ASSERT_TRUE(GetACP() == 1252 || GetACP() == 932) << GetACP();
        root = wide(recorder.folder("paths"));
        // Without a UTF-8 locale Wine cannot make such names at all.
        ASSERT_TRUE(CreateDirectoryW((root + L"\\" + wide(kNames[1].text)).c_str(), nullptr))
            << "run with a UTF-8 locale (wine-run-en, wine-run-ja)";
    }

    jint mail(const std::string& path)
    {
        return lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString(path),
                                                          jvm.newString("x@example.com"));
    }

    OpenRecorder recorder;
    std::wstring root;
};

// Java to the platform: every native that takes a path, first with only the
// decoys there, then with the file itself.
TEST_F(PathStrings, EveryNativeTakesTheNamedFileAndNeverALookAlike)
{
    HMODULE mapi = LoadLibraryA("mapi32.dll");
    MapiStandin standin(mapi);
    ASSERT_TRUE(standin.ok());
    standin.configure(0, 0);
    const auto folderOf = [&](const Name& name) { return root + L"\\" + wide(name.text); };
    const auto fileOf = [&](const Name& name) { return folderOf(name) + L"\\" + wide(name.text) + L".dvkopen"; };
    const auto movedOf = [&](const Name& name) { return utf8(folderOf(name) + L"\\moved.dvkopen"); };

    std::vector<std::wstring> decoys;
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.text);
        for (const std::wstring& lookAlike : lookAlikes(name.text)) {
            CreateDirectoryW((root + L"\\" + lookAlike).c_str(), nullptr);
            decoys.push_back(root + L"\\" + lookAlike + L"\\" + lookAlike + L".dvkopen");
            ASSERT_TRUE(writeFile(decoys.back(), "decoy")) << utf8(decoys.back());
        }
        RemoveDirectoryW(folderOf(name).c_str());

        // Only the decoys exist.
        const std::string path = utf8(fileOf(name)), folder = utf8(folderOf(name));
        jlongArray pair = jvm.newLongArray({-7, -7});
        EXPECT_EQ(JNI_FALSE, lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(path),
                                                                  jvm.newString(movedOf(name))));
        EXPECT_EQ(0, lib.com_quenlark_util_FileSystem_getDriveType0(env(), nullptr, jvm.newString(folder + "\\")));
        EXPECT_EQ(JNI_FALSE,
                  lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, jvm.newString(folder), pair));
        EXPECT_EQ((std::vector<jlong>{-7, -7}), jvm.longs(pair));
        EXPECT_EQ(reachable(name), lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, jvm.newString(path)));
        // Simple MAPI takes a name outside the code page by its wide send.
        standin.clear();
        mail(path);
        EXPECT_EQ(inCodePage(name) ? ansi(fileOf(name)) : path, field(standin.text(), "path"));
        const std::string send = standin.lines().size() > 1 ? standin.lines()[1] : "";
        EXPECT_EQ(inCodePage(name) ? "MAPISendMail" : "MAPISendMailW", send.substr(0, send.find(' ')));
        standin.clear();
        lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString(""), jvm.newString(name.text));
        EXPECT_NE(std::string::npos, standin.text().find(" address=\"" + (inCodePage(name) ? ansi(wide(name.text))
                                                                                           : std::string(name.text)) + "\""))
            << standin.text();
    }
    Sleep(1000); // an open of a decoy would have been recorded by now
    EXPECT_EQ(0u, recorder.records().size()) << "a missing file's name opened something";

    for (const Name& name : kNames) {
        SCOPED_TRACE(name.text);
        const std::string path = utf8(fileOf(name)), folder = utf8(folderOf(name));
        ASSERT_TRUE(CreateDirectoryW(folderOf(name).c_str(), nullptr));
        ASSERT_TRUE(writeFile(fileOf(name), "real"));
        jlongArray pair = jvm.newLongArray({-7, -7});
        const bool reaches = reachable(name);
        EXPECT_EQ(reaches ? 2 : 0,
                  lib.com_quenlark_util_FileSystem_getDriveType0(env(), nullptr, jvm.newString(folder + "\\")));
        EXPECT_EQ(reaches,
                  lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, jvm.newString(folder), pair));
        EXPECT_EQ(reaches, jvm.longs(pair)[0] > 0);
        EXPECT_EQ(reaches, lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(path),
                                                                jvm.newString(movedOf(name))));
        EXPECT_EQ(reaches ? "real" : "<missing>", readFile(wide(movedOf(name))));
        if (reaches)
            EXPECT_EQ(JNI_TRUE, lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(movedOf(name)),
                                                                     jvm.newString(path)));
        recorder.clear();
        standin.clear();
        EXPECT_EQ(reaches, lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, jvm.newString(path)));
        mail(path);
        if (!inCodePage(name)) EXPECT_EQ(path, field(standin.text(), "path")) << "by the wide send";
        if (!reaches) continue;
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        EXPECT_EQ((std::vector<std::vector<std::string>>{{utf8(current), path}}), recorder.waitForRecords(1));

        // Simple MAPI sees text that names the file, and the file-name part of that.
        const std::string mailed = field(standin.text(), "path");
        EXPECT_EQ(inCodePage(name) ? ansi(fileOf(name)) : path, mailed);
        EXPECT_EQ(mailed.substr(mailed.rfind('\\') + 1), field(standin.text(), "name"));
    }
    Sleep(500);
    EXPECT_EQ(kWindows9x ? 0u : 1u, recorder.records().size()) << "a name outside the code page opened something";
    EXPECT_FALSE(decoys.empty());
    for (const std::wstring& decoy : decoys) EXPECT_EQ("decoy", readFile(decoy)) << utf8(decoy);
    FreeLibrary(mapi);
}

// The user's Documents folder as the shell reads it from the registry; the
// value it had comes back however the test ends.
class DocumentsSetting {
public:
    DocumentsSetting()
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        saved_ = RegQueryValueExW(key_, L"Personal", nullptr, &type_, reinterpret_cast<BYTE*>(value_), &bytes_)
                 == ERROR_SUCCESS;
    }
    ~DocumentsSetting()
    {
        if (saved_)
            RegSetValueExW(key_, L"Personal", 0, type_, reinterpret_cast<const BYTE*>(value_), bytes_);
        else
            RegDeleteValueW(key_, L"Personal");
        RegCloseKey(key_);
    }
    bool set(const std::wstring& folder)
    {
        return RegSetValueExW(key_, L"Personal", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                              static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
    wchar_t value_[MAX_PATH] = {};
    DWORD bytes_ = sizeof value_, type_ = 0;
    bool saved_ = false;
};

// The platform to Java: the Documents folder.
TEST_F(PathStrings, TheDocumentsFolderReachesJavaAsItsCharacters)
{
    DocumentsSetting setting;
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.text);
        if (!reachable(name)) continue; // Windows 9x has no such folder
        const std::wstring documents = root + L"\\" + wide(name.text) + L"-documents";
        ASSERT_TRUE(CreateDirectoryW(documents.c_str(), nullptr));
        ASSERT_TRUE(setting.set(documents));
        jstring folder = lib.com_quenlark_util_FileSystem_getMyDocumentFolder0(env(), nullptr);
        ASSERT_NE(nullptr, folder);
        EXPECT_EQ(utf8(documents), jvm.bytesOf(folder));
    }
}

#ifndef DOVRIKNA_WINDOWS_9X // Windows 9x scans in the Launcher

using namespace scanning;
using namespace standin;
using namespace dovrikna;

Transfer page(TW_UINT16 count) { return {TWRC_SUCCESS, TWRC_XFERDONE, TWRC_SUCCESS, count, 1, "", 0}; }

// The platform to Java: scanned pages in a temp folder under each name. A
// folder outside the code page reaches the source, and Java, by its short
// name, and its pages still count as temporary.
class TempFolderScanning : public StandinScanning {};

TEST_F(TempFolderScanning, PagesArriveAsStringsThatNameTheirFiles)
{
    OpenRecorder scratch;
    for (const Name& name : kNames) {
        SCOPED_TRACE(name.text);
        const std::wstring account = wide(scratch.folder(std::string("users\\") + name.text));
        const std::wstring folder = account + L"\\Temp\\";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        SetEnvironmentVariableW(L"TEMP", folder.c_str());

        setTransfers({page(1), page(0)});
        acquire();
        pressScan();
        const std::vector<std::string> pages = collect(); // each with the temporary-file flag 1
        ASSERT_EQ(2u, pages.size());
        for (size_t i = 0; i < pages.size(); ++i) {
            const std::wstring expected = folder + L"kel" + std::to_wstring(i) + L".tif";
            if (inCodePage(name)) EXPECT_EQ(utf8(expected), pages[i]);
            std::wstring longName(MAX_PATH, L'\0');
            longName.resize(GetLongPathNameW(wide(pages[i]).c_str(), &longName[0], MAX_PATH));
            EXPECT_EQ(utf8(expected), utf8(longName)) << pages[i];
        }
    }
}

#endif

} // namespace
