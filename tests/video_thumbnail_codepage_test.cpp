// The path reaches the media detector as the characters of the Java string,
// and the cache key is that exact string. Built three times: for a code page
// 1252 process, for a code page 932 one (LC_ALL=ja_JP.UTF-8), and for a 1252
// process that sees Windows 98, where the detector reads the name back in the
// thread locale's code page, so a name that code page cannot hold fails.
#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "foreign_names.h"
#include "open_recorder_client.h"
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

constexpr bool kWindows9x = DOVRIKNA_EXPECTED_PLATFORM == VER_PLATFORM_WIN32_WINDOWS;

// The names, and "Lódz", the look-alike of "Łódź", which must be a key of its own.
std::vector<ForeignName> names()
{
    std::vector<ForeignName> all(std::begin(kForeignNames), std::end(kForeignNames));
    all.push_back({"Lódz", true, false});
    return all;
}

TEST_F(DOVRIKNA_CODEPAGE_SUITE, APathReachesTheDetectorAsItsCharactersOrNotAtAll)
{
    ASSERT_EQ(static_cast<UINT>(DOVRIKNA_EXPECTED_ACP), GetACP()) << "the test's process has another code page";
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    ASSERT_EQ(static_cast<DWORD>(DOVRIKNA_EXPECTED_PLATFORM), version.dwPlatformId);
    video(4, 2);

    for (const ForeignName& name : names()) {
        const std::string path = existing(std::string(name.text) + ".avi");
        SCOPED_TRACE(path);
        const bool reaches = !kWindows9x || inCodePage(name, DOVRIKNA_EXPECTED_ACP);
        jintArray size = jvm.newIntArray({4, 2});
        jbyteArray pixels = jvm.newByteArray(junk(24));
        const int created = standinCreated() + 1;
        const jint result = thumbnail(path, size, pixels);
        EXPECT_EQ(created, standinCreated()) << "another string, another key";
        if (!reaches) {
            EXPECT_EQ(-1, result);
            EXPECT_NE(wide(path), std::wstring(standinLastFileName()));
            EXPECT_EQ((std::vector<jint>{4, 2}), jvm.ints(size));
            continue;
        }
        EXPECT_EQ(0, result);
        EXPECT_EQ(wide(path), std::wstring(standinLastFileName()));
        EXPECT_EQ(0, thumbnail(path, size, pixels));
        EXPECT_EQ(created, standinCreated()) << "the same string again comes from the cache";
    }
}

TEST_F(DOVRIKNA_CODEPAGE_SUITE, OnWindows9xTheCallingThreadsLocaleDecides)
{
    standinFail(kStepPutFilename, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    // A thread locale whose ANSI code page is not the process's.
    const bool japanese = DOVRIKNA_EXPECTED_ACP != 932;
    const LANGID language = japanese ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                                     : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    ASSERT_TRUE(SetThreadLocale(MAKELCID(language, SORT_DEFAULT)));
    const std::string cafe = "C:\\v\\café.avi";
    EXPECT_EQ(-1, thumbnail(cafe, jvm.newIntArray({8, 8}), jvm.newByteArray(junk(192))));
    const bool reaches = !kWindows9x || !japanese;
    EXPECT_EQ(reaches ? wide(cafe) : std::wstring(), std::wstring(standinLastFileName()));
}

} // namespace
