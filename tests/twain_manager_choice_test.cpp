// Which source manager the library loads when TWAIN_32.DLL cannot be loaded
// (WINEDLLOVERRIDES twain_32=d): the x86 and x64 library alike take
// TWAINDSM.DLL, found in the system folder and loaded by its bare name (the
// stand-in's copy beside this program).
#include <windows.h>

#include <string>

#include "library_test.h"
#include "twain_test_support.h"

namespace {

using namespace twaintest;

// The system folder's TWAINDSM.DLL, which the library's probe looks for: made
// before the library loads, removed after it is gone.
struct ManagerInSystemFolder {
    ManagerInSystemFolder()
    {
        char folder[MAX_PATH];
        GetSystemDirectoryA(folder, MAX_PATH);
        path = std::string(folder) + "\\TWAINDSM.DLL";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        made = file != INVALID_HANDLE_VALUE;
        if (made) CloseHandle(file);
    }
    ~ManagerInSystemFolder() { DeleteFileA(path.c_str()); }
    std::string path;
    bool made = false;
};

class ManagerChoice : protected ManagerInSystemFolder, public LibraryTest {};

TEST_F(ManagerChoice, WithoutTwain32TheLibraryTakesTwaindsm)
{
    ASSERT_TRUE(made) << path;
    BoxCloser boxes;
    lib.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr);
    jint status = 0;
    EXPECT_TRUE(waitUntil([&] {
        return (status = lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr)) != 0;
    }));
    EXPECT_EQ(nullptr, GetModuleHandleA("TWAIN_32.DLL"));
    EXPECT_EQ(1, status) << "the stand-in manager, loaded as TWAINDSM.DLL, gave a source";
    standin::TwainStandin dsm;
    ASSERT_TRUE(dsm.load("TWAINDSM.DLL"));
    EXPECT_EQ((std::vector<std::string>{"OPENDSM", "USERSELECT", "CLOSEDSM"}), callNames(loggedCalls(dsm)));
    EXPECT_EQ(0u, boxes.texts().size());
}

} // namespace
