// findDefaultAppWindow0 and openDefaultApp0. The shell open goes through
// Wine's own ShellExecuteA to a test association (.dvkopen, see
// prefix/open_recorder.reg.in) whose program records how it was started.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library_test.h"
#include "message_box_watcher.h"
#include "open_recorder_client.h"

namespace {

using Record = std::vector<std::string>;

jint value(HWND window)
{
    return static_cast<jint>(reinterpret_cast<LONG_PTR>(window));
}

HWND plainWindow()
{
    return CreateWindowA("STATIC", "dovrikna test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                         nullptr, nullptr);
}

using WindowQueryTest = LibraryTest;

TEST_F(WindowQueryTest, ZeroAsksForTheForegroundWindow)
{
    EXPECT_EQ(value(GetForegroundWindow()), lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, 0));
    HWND window = plainWindow();
    ASSERT_NE(nullptr, window);
    SetForegroundWindow(window);
    ASSERT_EQ(window, GetForegroundWindow());
    EXPECT_EQ(value(window), lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, 0));
    DestroyWindow(window);
    EXPECT_EQ(value(GetForegroundWindow()), lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, 0));
}

TEST_F(WindowQueryTest, AHandleIsAnsweredWithWhetherItsWindowExists)
{
    HWND window = plainWindow();
    ASSERT_NE(nullptr, window);
    jint live = lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, value(window));
    EXPECT_NE(0, live);
    EXPECT_NE(value(window), live) << "a truth value, not the handle";
    DestroyWindow(window);
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, value(window)));
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, 0x7FFF1234));
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, -2));
}

class ShellOpenTest : public LibraryTest {
protected:
    bool open(const std::string& path)
    {
        return lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, jvm.newString(path)) == JNI_TRUE;
    }

    OpenRecorder recorder;
};

TEST_F(ShellOpenTest, TheFileOpensInTheCallersCurrentDirectory)
{
    std::string files = recorder.folder("files");
    std::string path = recorder.file("files\\photo.dvkopen");
    std::string current = recorder.folder("current");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));

    EXPECT_TRUE(open(path));
    // Java gets its answer at once; the file and its copy are the thread's business.
    EXPECT_EQ(std::vector<std::string>({"GetStringUTFChars", "ReleaseStringUTFChars"}), jvm.calls());
    EXPECT_EQ(std::vector<Record>({{current, path}}), recorder.waitForRecords(1));
}

TEST_F(ShellOpenTest, TwoCallsInARowOpenBoth)
{
    std::string first = recorder.file("first.dvkopen"), second = recorder.file("second.dvkopen");
    SetCurrentDirectoryA(recorder.root().c_str());
    EXPECT_TRUE(open(first));
    EXPECT_TRUE(open(second));
    std::vector<Record> records = recorder.waitForRecords(2);
    std::sort(records.begin(), records.end());
    EXPECT_EQ(std::vector<Record>({{recorder.root(), first}, {recorder.root(), second}}), records);
}

TEST_F(ShellOpenTest, AMissingFileIsStillReportedAsHandedOver)
{
    SetCurrentDirectoryA(recorder.root().c_str());
    MessageBoxWatcher watcher;
    EXPECT_TRUE(open(recorder.root() + "\\missing.dvkopen"));
    EXPECT_TRUE(open(recorder.root() + "\\nothing-opens-this.dvknone"));
    // A file that exists afterwards is opened as usual.
    std::string path = recorder.file("there.dvkopen");
    EXPECT_TRUE(open(path));
    std::vector<Record> records = recorder.waitForRecords(1);
    Sleep(500);
    watcher.stop();
    records = recorder.records();
    ASSERT_LE(1u, records.size());
    EXPECT_NE(records.end(), std::find(records.begin(), records.end(), Record({recorder.root(), path})))
        << testing::PrintToString(records);
    EXPECT_EQ(0u, watcher.boxes().size()) << watcher.boxes()[0].text;
}

TEST_F(ShellOpenTest, NullOrUnreadablePathsOpenNothing)
{
    EXPECT_EQ(JNI_FALSE, lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, nullptr));
    EXPECT_EQ(std::vector<std::string>(), jvm.calls());
    jvm.failStringGets(true);
    EXPECT_FALSE(open(recorder.file("photo.dvkopen")));
    Sleep(1000);
    EXPECT_EQ(0u, recorder.records().size());
}

TEST_F(ShellOpenTest, AnUnloadRightAfterTheCallWaitsForTheOpenToFinish)
{
    std::string path = recorder.file("photo.dvkopen");
    SetCurrentDirectoryA(recorder.root().c_str());
    EXPECT_TRUE(open(path));
    lib.unload();
    EXPECT_EQ(std::vector<Record>({{recorder.root(), path}}), recorder.waitForRecords(1));
    // The thread gives the library back as it ends.
    for (int i = 0; i < 200 && GetModuleHandleA("dovrikna.dll"); ++i) Sleep(50);
    EXPECT_EQ(nullptr, GetModuleHandleA("dovrikna.dll"));
}

} // namespace
