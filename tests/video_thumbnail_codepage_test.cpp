// The path reaches the media detector as its modified-UTF-8 bytes read in the
// process's ANSI code page. Built twice: for a code page 1252 process and,
// with LC_ALL=ja_JP.UTF-8, for a code page 932 one.
#include <windows.h>

#include <string>

#include "thumbnail_test.h"

#ifndef DOVRIKNA_EXPECTED_ACP
#define DOVRIKNA_EXPECTED_ACP 1252
#endif

namespace {

#if DOVRIKNA_EXPECTED_ACP == 932
using ThumbnailCodePage932Test = ThumbnailTest;
#define DOVRIKNA_CODEPAGE_SUITE ThumbnailCodePage932Test
#else
using ThumbnailCodePage1252Test = ThumbnailTest;
#define DOVRIKNA_CODEPAGE_SUITE ThumbnailCodePage1252Test
#endif

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
    standinFail(kStepPutFilename, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)); // no file of that name

    // "café" as the VM hands it over: é is the two bytes C3 A9.
    const std::string cafe = "C:\\v\\caf\xC3\xA9.avi";
    jintArray size = jvm.newIntArray({8, 8});
    jbyteArray pixels = jvm.newByteArray(junk(192));
    EXPECT_EQ(-1, thumbnail(cafe, size, pixels));
#if DOVRIKNA_EXPECTED_ACP == 932
    const std::wstring expected = L"C:\\v\\caf\xFF83\xFF69.avi"; // two half-width katakana
#else
    const std::wstring expected = L"C:\\v\\caf\x00C3\x00A9.avi"; // "Ã©"
#endif
    EXPECT_EQ(expected, std::wstring(standinLastFileName()));
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

} // namespace
