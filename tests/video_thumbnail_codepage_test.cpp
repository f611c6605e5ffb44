// The path reaches the media detector as its modified-UTF-8 bytes read in the
// calling thread's ANSI code page. Built three times: for a code page 1252
// process, for a code page 932 one (LC_ALL=ja_JP.UTF-8), and for a 1252
// process that sees Windows 98, where the code page comes from the thread
// locale's data instead of CP_THREAD_ACP.
#include <windows.h>

#include <string>

#include "thumbnail_test.h"

#ifndef DOVRIKNA_EXPECTED_ACP
#define DOVRIKNA_EXPECTED_ACP 1252
#endif

namespace {

#ifndef DOVRIKNA_CODEPAGE_SUITE
#define DOVRIKNA_CODEPAGE_SUITE ThumbnailCodePage1252Test
#endif
#ifndef DOVRIKNA_EXPECTED_PLATFORM
#define DOVRIKNA_EXPECTED_PLATFORM VER_PLATFORM_WIN32_NT
#endif
using DOVRIKNA_CODEPAGE_SUITE = ThumbnailTest;

const std::wstring kCafeIn1252 = L"C:\\v\\caf\x00C3\x00A9.avi"; // "Ã©"
const std::wstring kCafeIn932 = L"C:\\v\\caf\xFF83\xFF69.avi";  // two half-width katakana

std::wstring inAnsiCodePage(const std::string& bytes)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

TEST_F(DOVRIKNA_CODEPAGE_SUITE, ANonAsciiPathReachesTheDetectorReadInTheAnsiCodePage)
{
    ASSERT_EQ(static_cast<UINT>(DOVRIKNA_EXPECTED_ACP), GetACP()) << "the test's process has another code page";
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    ASSERT_EQ(static_cast<DWORD>(DOVRIKNA_EXPECTED_PLATFORM), version.dwPlatformId);
    standinFail(kStepPutFilename, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)); // no file of that name

    // "café" as the VM hands it over: é is the two bytes C3 A9.
    const std::string cafe = "C:\\v\\caf\xC3\xA9.avi";
    jintArray size = jvm.newIntArray({8, 8});
    jbyteArray pixels = jvm.newByteArray(junk(192));
    EXPECT_EQ(-1, thumbnail(cafe, size, pixels));
    EXPECT_EQ(DOVRIKNA_EXPECTED_ACP == 932 ? kCafeIn932 : kCafeIn1252, std::wstring(standinLastFileName()));
    EXPECT_EQ((std::vector<jint>{8, 8}), jvm.ints(size));
    EXPECT_EQ(junk(192), jvm.bytes(pixels));

    // A character whose bytes pair up differently in a double-byte code page:
    // "日" is E6 97 A5.
    const std::string kanji = "C:\\v\\\xE6\x97\xA5.avi";
    EXPECT_EQ(-1, thumbnail(kanji, jvm.newIntArray({8, 8}), jvm.newByteArray(junk(192))));
    EXPECT_EQ(inAnsiCodePage(kanji), std::wstring(standinLastFileName()));
#if DOVRIKNA_EXPECTED_ACP == 932
    EXPECT_EQ(std::wstring(L"C:\\v\\") + inAnsiCodePage("\xE6\x97") + L"\xFF65.avi",
              std::wstring(standinLastFileName()));
#else
    EXPECT_EQ(std::wstring(L"C:\\v\\\x00E6\x2014\x00A5.avi"), std::wstring(standinLastFileName()));
#endif
    EXPECT_EQ(2, standinCreated());
}

TEST_F(DOVRIKNA_CODEPAGE_SUITE, TheCallingThreadsLocaleDecides)
{
    standinFail(kStepPutFilename, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    // A thread locale whose ANSI code page is not the process's.
    const bool japanese = DOVRIKNA_EXPECTED_ACP != 932;
    const LANGID language = japanese ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                                     : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    ASSERT_TRUE(SetThreadLocale(MAKELCID(language, SORT_DEFAULT)));
    EXPECT_EQ(-1, thumbnail("C:\\v\\caf\xC3\xA9.avi", jvm.newIntArray({8, 8}), jvm.newByteArray(junk(192))));
    EXPECT_EQ(japanese ? kCafeIn932 : kCafeIn1252, std::wstring(standinLastFileName()));
}

} // namespace
