// The temporary-file flag in a process whose ANSI code page is 932 (Shift
// JIS), where a trail byte may look like an ASCII letter or a backslash.
// Runs on the forwarding path without a Launcher: the test writes the
// image-name block itself, and the forwarded requests are dropped.
#include <windows.h>

#include <string>

#include "acquisition_support.h"
#include "library_test.h"

namespace {

using namespace acquisition;

class CodePage932Test : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        ASSERT_EQ(932u, GetACP());
        ASSERT_TRUE(IsDBCSLeadByte(0x83));
    }
    jint flagOf(const std::string& path)
    {
        writer.write(path);
        jintArray flags = jvm.newIntArray({-7});
        jstring taken = lib.com_quenlark_foto_TwainHandler_getImageFile0(env(), nullptr, flags);
        EXPECT_NE(nullptr, taken);
        // The block's Shift JIS reaches Java as the characters it stands for.
        std::wstring wide(path.size(), L'\0');
        wide.resize(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                                        &wide[0], static_cast<int>(wide.size())));
        if (taken) EXPECT_EQ(std::u16string(wide.begin(), wide.end()), jvm.textOf(taken));
        return jvm.ints(flags)[0];
    }

    BlockWriter writer;
};

TEST_F(CodePage932Test, DoubleByteCharactersOfTheTempPathAreComparedWhole)
{
    // A temp directory named with the katakana 0x83 0x41, whose trail byte is 'A'.
    const std::string temp = "C:\\dovrikna-tmp\\\x83\x41\\";
    ASSERT_TRUE(SetEnvironmentVariableA("TMP", temp.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableA("TEMP", temp.c_str()));
    ASSERT_EQ(temp, tempPath());

    lib.com_quenlark_foto_TwainHandler_acquireImage0(env(), nullptr);
    ASSERT_TRUE(writer.open());

    EXPECT_EQ(1, flagOf(temp + "scan1.bmp"));
    EXPECT_EQ(1, flagOf("c:\\DOVRIKNA-TMP\\\x83\x41\\scan2.bmp")) << "ASCII letters fold";
    // 0x83 0x61 is another katakana; split into bytes, 0x61 would fold to 'A'.
    EXPECT_EQ(0, flagOf("C:\\dovrikna-tmp\\\x83\x61\\scan3.bmp"));
    EXPECT_EQ(0, flagOf("C:\\dovrikna-tmp\\"));
}

} // namespace
