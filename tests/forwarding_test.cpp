// The forwarding path, as on Windows 95/98/Me: this program runs with that
// version reported to it (tests/prefix/forwarding.reg.in), so TwainWorker
// forwards the requests to the test Launcher, a process of its own, and
// applies the reports that the Launcher posts back to TwainWindow.
#include <windows.h>

#include <string>
#include <vector>

#include "acquisition_support.h"
#include "library_test.h"

namespace {

using namespace acquisition;
using Log = std::vector<std::string>;

std::string recv(unsigned message)
{
    return "recv " + std::to_string(message) + " 0 0";
}

std::string swapCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

const std::vector<std::string> kSilent = {"select=silent", "acquire=silent"};

class ForwardingTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof version;
        ASSERT_TRUE(GetVersionExA(&version));
        ASSERT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), version.dwPlatformId)
            << "this program must run with Windows 98 reported to it";
        twainWindow = waitForTopLevelTwainWindow();
        ASSERT_NE(nullptr, twainWindow);
        worker = GetWindowThreadProcessId(twainWindow, nullptr);
    }

    jint querySelect() { return lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr); }
    jint queryImage() { return lib.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr); }
    void selectSource() { lib.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr); }
    void acquire() { lib.com_quenlark_foto_TwainHandler_acquireImage0(env(), nullptr); }
    jstring getImageFile(jintArray flags)
    {
        return lib.com_quenlark_foto_TwainHandler_getImageFile0(env(), nullptr, flags);
    }

    // Polls queryImageFile0 as the Java side does until it returns something
    // other than "nothing new"; every value seen on the way must be 0 or 1.
    jint pollImage()
    {
        jint status = 1;
        waitUntil([&] {
            status = queryImage();
            return status != 0 && status != 1;
        });
        return status;
    }

    // Everything posted to the worker before this call has been handled once
    // it returns: a raw TWM_NEXT_FILE behind it reaches a silent Launcher.
    void sync(const LauncherProcess& launcher)
    {
        PostThreadMessageA(worker, 1030, 0, 0);
        ASSERT_TRUE(launcher.waitForLine(recv(1030), ++barriers)) << "the worker did not forward the barrier";
    }

    HWND twainWindow = nullptr;
    DWORD worker = 0;
    size_t barriers = 0;
};

TEST_F(ForwardingTest, TwainWindowIsAHiddenTopLevelWindowOfTheWorker)
{
    EXPECT_EQ(nullptr, GetParent(twainWindow));
    EXPECT_FALSE(IsWindowVisible(twainWindow));
    EXPECT_EQ(0, GetWindowLongA(twainWindow, GWL_STYLE) & (WS_CHILD | WS_POPUP | WS_VISIBLE));
    EXPECT_NE(GetCurrentThreadId(), worker);
}

TEST_F(ForwardingTest, ReportsPostedToTwainWindowSetTheStatusAndNothingElseDoes)
{
    LauncherProcess launcher(kSilent);
    ASSERT_TRUE(launcher.running());
    struct Row {
        UINT message;
        jint status; // after the message
    };
    const Row rows[] = {
        {1029, 0}, {1030, 0}, {1026, 0}, {1025, 0}, {1027, 1}, {1029, 1}, {1030, 1}, {1028, 2},
        {1024, 2}, {1035, 2}, {WM_USER + 100, 2}, {1032, 3}, {1027, 1}, {1033, 3}, {1031, 2}, {1034, 3},
    };
    for (const Row& row : rows) {
        PostMessageA(twainWindow, row.message, 0x1234, 0x5678);
        sync(launcher);
        EXPECT_EQ(row.status, querySelect()) << "after " << row.message;
        EXPECT_EQ(row.status, querySelect()) << "second query after " << row.message;
    }
    // Requests posted as window messages were not forwarded: the Launcher saw
    // only the barriers.
    EXPECT_EQ(Log(barriers, recv(1030)), launcher.log());

    // The last report is taken once, then nothing new.
    EXPECT_EQ(3, queryImage());
    EXPECT_EQ(1, queryImage());
    EXPECT_EQ(1, querySelect());
}

TEST_F(ForwardingTest, RequestsReachTheLauncherOnceInOrderAndNothingElseIsForwarded)
{
    LauncherProcess launcher(kSilent);
    ASSERT_TRUE(launcher.running());

    selectSource();
    // Thread messages that are no requests, reports among them: neither
    // forwarded nor applied (they have no window to reach).
    for (UINT message : {1027u, 1028u, 1031u, 1032u, 1025u, 1035u, WM_USER + 50u, 1034u})
        PostThreadMessageA(worker, message, 0, 0);
    acquire();
    PostThreadMessageA(worker, 1030, 0, 0);
    selectSource();
    PostThreadMessageA(worker, 1029, 7, 9); // the library forwards with 0, 0 whatever it received
    acquire();

    const Log expected = {recv(1026), recv(1029), recv(1030), recv(1026), recv(1029), recv(1029)};
    launcher.waitForLines(expected.size());
    Sleep(200); // nothing more may come
    EXPECT_EQ(expected, launcher.log());
    EXPECT_EQ(0, querySelect());
}

TEST_F(ForwardingTest, WithoutLauncherRequestsAreDroppedAndTheStatusStaysPending)
{
    selectSource();
    acquire();
    Sleep(300);
    EXPECT_EQ(0, querySelect());

    // The worker is still waiting for requests: a Launcher that starts now
    // gets the next one, and only that one.
    LauncherProcess launcher({"select=chosen"});
    ASSERT_TRUE(launcher.running());
    selectSource();
    EXPECT_TRUE(waitUntil([&] { return querySelect() == 1; })) << querySelect();
    launcher.waitForLines(2);
    Sleep(100);
    EXPECT_EQ((Log{recv(1026), "post 1027"}), launcher.log());
}

TEST_F(ForwardingTest, SelectionThatChoosesNoSourceIsSignalled)
{
    LauncherProcess launcher({"select=none"});
    ASSERT_TRUE(launcher.running());
    selectSource();
    EXPECT_TRUE(waitUntil([&] { return querySelect() != 0; }));
    EXPECT_EQ(2, querySelect());
    EXPECT_EQ((Log{recv(1026), "post 1028"}), launcher.log());
}

TEST_F(ForwardingTest, ThreeFilesAreHandedOverInOrderWithTheirFlags)
{
    const std::string temp = tempPath();
    ASSERT_EQ('\\', temp.back()) << temp;
    ASSERT_NE(temp, swapCase(temp)) << "the temp path needs letters for this test";
    const std::string inTemp = temp + "dovrikna-scan1.bmp";
    const std::string otherCase = swapCase(temp) + "dovrikna-scan2.bmp";
    const std::string elsewhere = "C:\\dovrikna-elsewhere\\scan3.bmp";
    const std::string tempItself = temp.substr(0, temp.size() - 1); // a strict prefix of the temp path

    {
        LauncherProcess launcher({"file=" + inTemp, "file=" + otherCase, "file=" + elsewhere, "last=1032"});
        ASSERT_TRUE(launcher.running());
        acquire();
        const struct {
            std::string path;
            jint flag;
        } expected[] = {{inTemp, 1}, {otherCase, 1}, {elsewhere, 0}};
        for (const auto& file : expected) {
            ASSERT_EQ(2, pollImage()) << "waiting for " << file.path;
            jintArray flags = jvm.newIntArray({-7, -7});
            jstring path = getImageFile(flags);
            ASSERT_NE(nullptr, path);
            EXPECT_EQ(file.path, jvm.bytesOf(path));
            EXPECT_EQ((std::vector<jint>{file.flag, -7}), jvm.ints(flags)) << file.path;
        }
        ASSERT_TRUE(launcher.waitForLine("release"));
        // The Launcher has let go of the block; the Java side's reader still holds it.
        EXPECT_TRUE(blockExists());
        EXPECT_EQ(3, pollImage());
        EXPECT_EQ(1, queryImage());
        EXPECT_EQ(1, queryImage());
        // Taking STATUS_FINISHED released the reader, and with it the block.
        EXPECT_FALSE(blockExists());

        const Log log = {recv(1029), "write " + inTemp,    "post 1031", recv(1030), "write " + otherCase,
                         "post 1031", recv(1030),          "write " + elsewhere,    "post 1031",
                         recv(1030), "post 1032",          "release"};
        EXPECT_EQ(log, launcher.log());
    }

    // The next acquisition makes a new reader, which opens the new block.
    LauncherProcess launcher({"file=" + tempItself, "last=1033"});
    ASSERT_TRUE(launcher.running());
    acquire();
    ASSERT_EQ(2, pollImage());
    jintArray flags = jvm.newIntArray({-7});
    jstring path = getImageFile(flags);
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(tempItself, jvm.bytesOf(path));
    EXPECT_EQ(std::vector<jint>{0}, jvm.ints(flags));
    EXPECT_EQ(3, pollImage());
    EXPECT_EQ(1, queryImage());
    // The Launcher logs its release after posting the report; on a loaded machine that comes later.
    ASSERT_TRUE(launcher.waitForLine("release"));
    EXPECT_EQ((Log{recv(1029), "write " + tempItself, "post 1031", recv(1030), "post 1033", "release"}),
              launcher.log());
}

TEST_F(ForwardingTest, AcquisitionWithoutFilesEndsAtOnce)
{
    LauncherProcess launcher({"last=1034"});
    ASSERT_TRUE(launcher.running());
    acquire();
    EXPECT_EQ(3, pollImage());
    EXPECT_EQ(1, queryImage());
    EXPECT_EQ((Log{recv(1029), "post 1034"}), launcher.log());
}

TEST_F(ForwardingTest, GetImageFileOutOfOrderAnswersNullAndPostsNothing)
{
    LauncherProcess launcher(kSilent);
    ASSERT_TRUE(launcher.running());
    const std::string path = tempPath() + "dovrikna-out-of-order.bmp";

    // No reader: no acquisition was asked for.
    jintArray flags = jvm.newIntArray({-7});
    EXPECT_EQ(nullptr, getImageFile(flags));
    EXPECT_EQ(std::vector<jint>{-7}, jvm.ints(flags));
    EXPECT_EQ(std::vector<std::string>{}, jvm.calls());

    // A reader, but no block to open.
    acquire();
    ASSERT_FALSE(blockExists());
    EXPECT_EQ(nullptr, getImageFile(flags));
    EXPECT_EQ(std::vector<jint>{-7}, jvm.ints(flags));

    BlockWriter writer;
    ASSERT_TRUE(writer.open());
    writer.write(path);
    // No room for the flag: nothing is read, written or posted.
    EXPECT_EQ(nullptr, getImageFile(nullptr));
    EXPECT_EQ(nullptr, getImageFile(jvm.newIntArray({})));

    // In order now: the path, its flag, one post.
    jstring taken = getImageFile(flags);
    ASSERT_NE(nullptr, taken);
    EXPECT_EQ(path, jvm.bytesOf(taken));
    EXPECT_EQ(std::vector<jint>{1}, jvm.ints(flags));

    PostThreadMessageA(worker, 1026, 0, 0); // a barrier for the posts above
    ASSERT_TRUE(launcher.waitForLine(recv(1026)));
    EXPECT_EQ((Log{recv(1029), recv(1030), recv(1026)}), launcher.log());
    EXPECT_EQ((std::vector<std::string>{"GetArrayLength", "GetArrayLength", "GetArrayLength", "NewStringUTF",
                                        "SetIntArrayRegion"}),
              jvm.calls());
}

TEST_F(ForwardingTest, ReaderIsKeptUntilTheAcquisitionIsTakenAsFinished)
{
    acquire();
    BlockWriter writer;
    ASSERT_TRUE(writer.open());
    writer.write("C:\\first.bmp");
    jintArray flags = jvm.newIntArray({-7});
    ASSERT_NE(nullptr, getImageFile(flags));

    // The writer lets go; the reader's mapping keeps the block alive, also
    // across a second acquireImage0, which reuses the reader and its view.
    writer.close();
    EXPECT_TRUE(blockExists());
    acquire();
    EXPECT_TRUE(blockExists());
    BlockWriter second; // opens the same block
    ASSERT_TRUE(second.open());
    second.write("C:\\second.bmp");
    jstring path = getImageFile(flags);
    ASSERT_NE(nullptr, path);
    EXPECT_EQ("C:\\second.bmp", jvm.bytesOf(path));

    // A block without a terminator is read no further than its 260 bytes.
    const std::string full(260, 'x');
    second.writeBytes(full.data(), full.size());
    path = getImageFile(flags);
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(full, jvm.bytesOf(path));
    EXPECT_EQ(std::vector<jint>{0}, jvm.ints(flags));
    second.close();

    PostMessageA(twainWindow, 1032, 0, 0);
    EXPECT_EQ(3, pollImage());
    EXPECT_FALSE(blockExists());
}

// A request made the moment the library is loaded, by a host that does not
// call JNI_OnLoad, reaches the worker, which may not have made its message
// queue yet.
TEST(ForwardingLoad, RequestRightAfterLoadIsNotLost)
{
    LauncherProcess launcher({"select=chosen"});
    ASSERT_TRUE(launcher.running());
    const int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        fakejvm::FakeJvm jvm;
        LibraryUnderTest lib(nullptr, LibraryUnderTest::kSkipOnLoad);
        ASSERT_TRUE(lib.loaded()) << lib.missing;
        lib.com_quenlark_foto_TwainHandler_selectSource0(jvm.env(), nullptr);
        EXPECT_TRUE(waitUntil([&] { return lib.com_quenlark_foto_TwainHandler_querySelectSource0(jvm.env(), nullptr) == 1; }))
            << "round " << round;
        lib.unload();
    }
    Log expected;
    for (int round = 0; round < rounds; ++round)
        expected.insert(expected.end(), {recv(1026), "post 1027", recv(1025)});
    launcher.waitForLines(expected.size());
    EXPECT_EQ(expected, launcher.log());
}

} // namespace
