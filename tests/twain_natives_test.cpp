// Scanning end to end through the natives: TwainWorker drives the stand-in
// source manager (TWAIN_32.DLL beside this program, WINEDLLOVERRIDES
// twain_32=n,b) while the test plays the Java side and the user.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library_test.h"
#include "twain_test_support.h"

namespace {

using namespace standin;
using namespace twaintest;
using Names = std::vector<std::string>;

enum : jint { kPending = 0, kIdle = 1, kSignalled = 2, kFinished = 3 };

// MainAppWindow, made before the library loads so that TwainWindow gets it as
// its parent.
struct MainAppWindow {
    MainAppWindow()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "com.quenlark.ui.Dovrik";
        RegisterClassA(&windowClass);
        mainWindow = CreateWindowA("com.quenlark.ui.Dovrik", "quenLark", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                   nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~MainAppWindow() { DestroyWindow(mainWindow); }
    HWND mainWindow = nullptr;
};

class Scanning : protected MainAppWindow, public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        ASSERT_NE(nullptr, mainWindow);
        ASSERT_TRUE(dsm.load());
        script = dsm.script();
        temp = useFreshTempDirectory("natives");
        ASSERT_TRUE(waitUntil([&] {
            twainWindow = FindWindowExA(mainWindow, nullptr, "com_quenlark_foto_TwainHandler_class", nullptr);
            return twainWindow != nullptr;
        })) << "TwainWindow, the child of MainAppWindow";
        worker = GetWindowThreadProcessId(twainWindow, nullptr);
    }

    void TearDown() override { EXPECT_EQ("", problemsOf(dsm)); }

    void selectSource() { lib.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr); }
    jint querySelect() { return lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr); }
    void acquire() { lib.com_quenlark_foto_TwainHandler_acquireImage0(env(), nullptr); }
    jint queryImage() { return lib.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr); }

    // The Java side's polls: until the value is something other than "nothing new".
    jint pollSelect()
    {
        jint status = kPending;
        waitUntil([&] { return (status = querySelect()) != kPending; });
        return status;
    }
    jint pollImage()
    {
        jint status = kIdle;
        waitUntil([&] {
            status = queryImage();
            return status != kPending && status != kIdle;
        });
        return status;
    }
    std::string getImageFile(jint* flag = nullptr)
    {
        jintArray flags = jvm.newIntArray({-7});
        jstring path = lib.com_quenlark_foto_TwainHandler_getImageFile0(env(), nullptr, flags);
        if (flag) *flag = jvm.ints(flags)[0];
        return path ? jvm.bytesOf(path) : "(null)";
    }
    // Every file of the acquisition as the Java side collects it.
    std::vector<std::string> collect(int limit = 10)
    {
        std::vector<std::string> paths;
        for (int i = 0; i < limit; ++i) {
            jint status = pollImage();
            if (status == kFinished) return paths;
            if (status != kSignalled) {
                ADD_FAILURE() << "status " << status << " after " << paths.size() << " files";
                return paths;
            }
            jint flag = -1;
            paths.push_back(getImageFile(&flag));
            EXPECT_EQ(1, flag) << paths.back() << " lies in the temp directory";
        }
        ADD_FAILURE() << "no end after " << limit << " files";
        return paths;
    }

    // The user presses the source's scan button once its window is up.
    void pressScan()
    {
        ASSERT_TRUE(waitUntil([&] { return dsm.sourceWindow() != nullptr; })) << "the source was not enabled";
        PostMessageA(dsm.sourceWindow(), kScanButton, 0, 0);
    }

    void setTransfers(std::initializer_list<Transfer> transfers)
    {
        script->transferCount = 0;
        for (const Transfer& transfer : transfers) script->transfers[script->transferCount++] = transfer;
    }

    Names calls() { return callNames(loggedCalls(dsm)); }

    TwainStandin dsm;
    Script* script = nullptr;
    std::string temp;
    HWND twainWindow = nullptr;
    DWORD worker = 0;
};

Transfer done(TW_UINT16 count) { return {TWRC_SUCCESS, TWRC_XFERDONE, TWRC_SUCCESS, count, 1, "", 0}; }

TEST_F(Scanning, SelectionChosenThenCancelledClosesTheManagerBothTimes)
{
    selectSource();
    EXPECT_EQ(kIdle, pollSelect());
    script->userSelect = TWRC_CANCEL;
    selectSource();
    EXPECT_EQ(kSignalled, pollSelect());
    EXPECT_EQ(kSignalled, querySelect());
    EXPECT_EQ((Names{"OPENDSM", "USERSELECT", "CLOSEDSM", "OPENDSM", "USERSELECT", "CLOSEDSM"}), calls());
    for (const Call& call : loggedCalls(dsm)) {
        EXPECT_EQ(worker, call.thread) << callName(call) << " is made on TwainWorker";
        if (call.dat == DAT_PARENT) EXPECT_EQ(twainWindow, call.parent) << callName(call);
    }
}

TEST_F(Scanning, ThreePagesAreCollectedOneByOne)
{
    setTransfers({done(2), done(1), done(0)});
    acquire();
    pressScan();
    EXPECT_EQ((Names{temp + "kel0.tif", temp + "kel1.tif", temp + "kel2.tif"}), collect());
    EXPECT_EQ(kIdle, queryImage());

    const Names transfer = {"IMAGEINFO", "SETUPFILEXFER SET", "IMAGEFILEXFER", "ENDXFER"};
    Names expected = {"OPENDSM", "GETDEFAULT", "OPENDS", "ENABLEDS", "PROCESSEVENT", "GET XFERMECH",
                      "GET IMAGEFILEFORMAT"};
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), transfer.begin(), transfer.end());
    expected.insert(expected.end(), {"DISABLEDS", "CLOSEDS", "CLOSEDSM"});
    EXPECT_EQ(expected, calls());
    for (const Call& call : loggedCalls(dsm)) {
        EXPECT_EQ(worker, call.thread) << callName(call);
        if (call.dat == DAT_USERINTERFACE) EXPECT_EQ(twainWindow, call.parent) << callName(call);
    }
}

TEST_F(Scanning, FileTakenWhileTheSourcesDialogIsUpIsFollowedByTheNext)
{
    // The Java side collects the first file while page 2's dialog runs its
    // modal loop on TwainWorker.
    std::string first;
    jint statusDuringDialog = -1;
    BoxCloser boxes([&](const std::string& text) {
        if (text != "Standin page 2") return;
        statusDuringDialog = queryImage();
        first = getImageFile();
        Sleep(300);
    });
    Transfer second = done(0);
    second.modal = 1;
    setTransfers({done(1), second});
    acquire();
    pressScan();
    ASSERT_TRUE(boxes.waitFor(1));
    EXPECT_EQ(kSignalled, statusDuringDialog);
    EXPECT_EQ(temp + "kel0.tif", first);
    EXPECT_EQ((Names{temp + "kel1.tif"}), collect());
}

TEST_F(Scanning, ClosingTheSourceWithoutScanningFinishesTheAcquisition)
{
    acquire();
    ASSERT_TRUE(waitUntil([&] { return dsm.sourceWindow() != nullptr; }));
    PostMessageA(dsm.sourceWindow(), kCloseButton, 0, 0);
    EXPECT_EQ(kFinished, pollImage());
    EXPECT_EQ((Names{"OPENDSM", "GETDEFAULT", "OPENDS", "ENABLEDS", "PROCESSEVENT", "DISABLEDS", "CLOSEDS",
                     "CLOSEDSM"}),
              calls());
}

TEST_F(Scanning, SecondAcquisitionUsesTheSameSourceWithoutAskingAgain)
{
    acquire();
    pressScan();
    EXPECT_EQ((Names{temp + "kel0.tif"}), collect());
    acquire();
    pressScan();
    EXPECT_EQ((Names{temp + "kel1.tif"}), collect());
    Names names = calls();
    EXPECT_EQ(1, std::count(names.begin(), names.end(), "GETDEFAULT"));
    EXPECT_EQ(2, std::count(names.begin(), names.end(), "OPENDS"));
}

TEST_F(Scanning, UnloadDuringAnAcquisitionBringsTheSourceDownWithoutWaiting)
{
    acquire();
    ASSERT_TRUE(waitUntil([&] { return dsm.sourceWindow() != nullptr; }));
    DWORD start = GetTickCount();
    lib.unload();
    EXPECT_LT(GetTickCount() - start, 2000u) << "the worker ended its session without waiting for the loader";
    EXPECT_EQ((Names{"OPENDSM", "GETDEFAULT", "OPENDS", "ENABLEDS", "DISABLEDS", "CLOSEDS", "CLOSEDSM"}), calls());
    for (const Call& call : loggedCalls(dsm)) EXPECT_EQ(worker, call.thread) << callName(call);
}

} // namespace
