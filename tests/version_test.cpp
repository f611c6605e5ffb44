// The version resource of the built dovrikna.dll, read back as an installer
// or Explorer's properties read it. Runs for x86 and x64.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovrikna_version.h"

namespace {

std::string libraryPath()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    return path.substr(0, path.rfind('\\') + 1) + "dovrikna.dll";
}

TEST(VersionResource, NamesTheBuildsVersionAndTheLibrary)
{
    const std::string path = libraryPath();
    DWORD ignored = 0xDEADBEEF;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << path << ", error " << GetLastError();
    std::vector<char> data(size, '\x5A');
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data())) << GetLastError();

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0xDEAD;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(sizeof *fixed, length);
    EXPECT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
    const DWORD high = MAKELONG(DOVRIKNA_VERSION_MINOR, DOVRIKNA_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, DOVRIKNA_VERSION_PATCH);
    EXPECT_EQ(high, fixed->dwFileVersionMS);
    EXPECT_EQ(low, fixed->dwFileVersionLS);
    EXPECT_EQ(high, fixed->dwProductVersionMS);
    EXPECT_EQ(low, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    // The strings, in the language and code page the resource declares.
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_GE(length, 4u);
    char block[64];
    wsprintfA(block, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    const struct {
        const char* name;
        std::string expected; // empty: any text but none
    } strings[] = {
        {"FileVersion", DOVRIKNA_VERSION_TEXT},
        {"ProductVersion", DOVRIKNA_VERSION_TEXT},
        {"CompanyName", "quenLark"},
        {"ProductName", "quenLark"},
        {"OriginalFilename", "dovrikna.dll"},
        {"InternalName", "dovrikna"},
        {"FileDescription", ""},
        {"LegalCopyright", ""},
    };
    for (const auto& entry : strings) {
        char* text = nullptr;
        length = 0xDEAD;
        const std::string query = std::string(block) + entry.name;
        ASSERT_TRUE(VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) << query;
        if (entry.expected.empty())
            EXPECT_GT(std::string(text).size(), 0u) << entry.name;
        else
            EXPECT_EQ(entry.expected, text) << entry.name;
    }
}

} // namespace
