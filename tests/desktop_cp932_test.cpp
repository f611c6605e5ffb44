// The desktop natives in a process whose ANSI code page is 932 (Shift-JIS),
// where one character may take two bytes.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "library_test.h"
#include "mapi_standin.h"
#include "open_recorder_client.h"

namespace {

using Lines = std::vector<std::string>;

class Cp932Test : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    }
};

using Cp932MailTest = Cp932Test;

TEST_F(Cp932MailTest, DoubleByteCharactersAreNotSplitButTheirBackslashEndsAFolder)
{
    HMODULE module = LoadLibraryA("mapi32.dll");
    MapiStandin standin(module);
    ASSERT_TRUE(standin.ok());
    standin.configure(0, 0);

    // In code page 932 "－" (U+FF0D) is 0x81 0x7C, whose second byte is '|';
    // "表" (U+8868) is 0x95 0x5C, whose second byte is '\'.
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, '|',
                                                             jvm.newString("C:\\表x.jpg|C:\\a表|D:－.png"),
                                                             jvm.newString("a－b|c")));
    const Lines expected = {
        "MAPILogon ui=0x0 profile=null password=null flags=0x3 reserved=0x0 session=set",
        "MAPISendMail session=0x0 ui=0x0 flags=0xB reserved=0x0 message=set",
        " message reserved=0x0 subject=null note=null type=null date=null conversation=null flags=0x0"
        " originator=null recipients=2/set files=3/set",
        " recipient reserved=0x0 class=1 name=\"a\x81|b\" address=\"a\x81|b\" entry=0/null",
        " recipient reserved=0x0 class=1 name=\"c\" address=\"c\" entry=0/null",
        " file reserved=0x0 flags=0x0 position=0xFFFFFFFF path=\"C:\\\x95\\x.jpg\" name=\"x.jpg\" type=null",
        " file reserved=0x0 flags=0x0 position=0xFFFFFFFF path=\"C:\\a\x95\\\" name=\"\" type=null",
        " file reserved=0x0 flags=0x0 position=0xFFFFFFFF path=\"D:\x81|.png\" name=\"\x81|.png\" type=null",
    };
    EXPECT_EQ(expected, standin.lines());
    FreeLibrary(module);
}

using Cp932ShellOpenTest = Cp932Test;

TEST_F(Cp932ShellOpenTest, ACurrentDirectoryTooLongForItsBufferIsInheritedWhole)
{
    OpenRecorder recorder;
    std::string path = recorder.file("photo.dvkopen");
    // Short enough for the system (under 260 characters), but more than 260
    // bytes in the ANSI code page.
    std::string name;
    for (int i = 0; i < 25; ++i) name += "写真";
    std::string current = recorder.folder(name + "\\" + name + "\\" + name);
    ASSERT_TRUE(SetCurrentDirectoryW(wide(current).c_str()));
    // The buffer the shell open thread uses cannot take it; the system says
    // how much it would need and leaves the buffer as it was.
    char buffer[MAX_PATH];
    std::memset(buffer, 'X', sizeof buffer);
    ASSERT_LT(static_cast<DWORD>(MAX_PATH), GetCurrentDirectoryA(MAX_PATH, buffer));
    EXPECT_EQ(std::string(MAX_PATH, 'X'), std::string(buffer, MAX_PATH));

    EXPECT_EQ(JNI_TRUE, lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, jvm.newString(path)));
    EXPECT_EQ(std::vector<std::vector<std::string>>({{current, path}}), recorder.waitForRecords(1));
}

} // namespace
