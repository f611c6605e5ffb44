// TwainWorker on the in-process path (every platform but Windows 95/98/Me):
// TwainWindow as a hidden child of the application's main window, the
// requests run on the worker, and window messages that the TWAIN session's
// event filter does not take reach TwainWindow's procedure.
//
// The data source manager is made unloadable for this program
// (WINEDLLOVERRIDES), so a selection never finds a source; a message box the
// session may show about it is closed by BoxCloser.
#include <windows.h>

#include <atomic>
#include <thread>

#include "host_main_window.h"
#include "process_resources.h"
#include "acquisition_support.h"
#include "library_test.h"

namespace {

using resources::threadsOfThisProcess;

using namespace acquisition;

// The application's main window, owned by a thread that keeps pumping
// messages as the Java UI thread does (TwainWindow's creation and destruction
// notify its parent synchronously).
class MainAppWindowThread {
public:
    MainAppWindowThread()
    {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, ready] {
            window_ = makeMainAppWindow();
            threadId_ = GetCurrentThreadId();
            SetEvent(ready);
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
            DestroyWindow(window_);
        });
        WaitForSingleObject(ready, 5000);
        CloseHandle(ready);
    }
    ~MainAppWindowThread()
    {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND window() const { return window_; }
    DWORD threadId() const { return threadId_; }

private:
    std::thread thread_;
    std::atomic<HWND> window_{nullptr};
    std::atomic<DWORD> threadId_{0};
};

class InProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, main.window());
        ASSERT_TRUE(lib.loaded()) << lib.missing;
        // The load as a Java VM makes it, JNI_OnLoad included, returns with
        // the worker started: its window is there at once.
        twainWindow = FindWindowExA(main.window(), nullptr, kTwainWindowClass, kTwainWindowTitle);
        ASSERT_NE(nullptr, twainWindow);
    }
    JNIEnv* env() { return jvm.env(); }
    jint querySelect() { return lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr); }

    // Declared in this order: the main window outlives the library.
    MainAppWindowThread main;
    BoxCloser boxes;
    fakejvm::FakeJvm jvm;
    LibraryUnderTest lib;
    HWND twainWindow = nullptr;
};

TEST_F(InProcessTest, TwainWindowIsAHiddenOneByOneChildOfTheMainWindow)
{
    EXPECT_EQ(main.window(), GetParent(twainWindow));
    const LONG style = GetWindowLongA(twainWindow, GWL_STYLE);
    EXPECT_EQ(WS_CHILD, style & (WS_CHILD | WS_POPUP | WS_VISIBLE)) << std::hex << style;
    EXPECT_EQ(0, GetWindowLongA(twainWindow, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY);
    EXPECT_EQ(0, GetDlgCtrlID(twainWindow));
    RECT rect;
    GetWindowRect(twainWindow, &rect);
    EXPECT_EQ(1, rect.right - rect.left);
    EXPECT_EQ(1, rect.bottom - rect.top);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(lib.module()), GetWindowLongPtrA(twainWindow, GWLP_HINSTANCE));
    const DWORD worker = GetWindowThreadProcessId(twainWindow, nullptr);
    EXPECT_NE(GetCurrentThreadId(), worker);
    EXPECT_NE(main.threadId(), worker);
    EXPECT_EQ(nullptr, FindWindowA(kTwainWindowClass, kTwainWindowTitle)) << "no top-level TwainWindow";
}

TEST_F(InProcessTest, WindowMessagesForTwainWindowReachItsProcedure)
{
    for (const auto& step : {std::make_pair(1031u, 2), std::make_pair(1027u, 1), std::make_pair(1034u, 3),
                             std::make_pair(1028u, 2), std::make_pair(1032u, 3)}) {
        PostMessageA(twainWindow, step.first, 0, 0);
        EXPECT_TRUE(waitUntil([&] { return querySelect() == step.second; }))
            << "after " << step.first << " the status is " << querySelect();
    }
}

TEST_F(InProcessTest, ThreadMessagesAndRequestNumbersSentToTheWindowChangeNothing)
{
    PostMessageA(twainWindow, 1027, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return querySelect() == 1; }));

    const DWORD worker = GetWindowThreadProcessId(twainWindow, nullptr);
    for (UINT report : {1028u, 1031u, 1032u, 1033u, 1034u}) PostThreadMessageA(worker, report, 0, 0);
    // Request numbers as window messages are no requests: no selection runs.
    for (UINT request : {1026u, 1029u, 1030u}) PostMessageA(twainWindow, request, 0, 0);
    // Behind all of them, a close that destroys the window shows they were handled.
    PostMessageA(twainWindow, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(twainWindow); }));
    EXPECT_EQ(1, querySelect());
}

TEST_F(InProcessTest, UnloadEndsTheWorkerPromptly)
{
    // A round trip through the worker first, so that it is in its loop.
    PostMessageA(twainWindow, 1031, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return querySelect() == 2; }));
    const size_t threads = threadsOfThisProcess();

    const DWORD start = GetTickCount();
    lib.unload();
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 2000u) << "the worker did not leave its loop when asked";
    EXPECT_FALSE(IsWindow(twainWindow));
    // The worker ends once the unload has let go of the loader lock.
    EXPECT_TRUE(waitUntil([&] { return threadsOfThisProcess() == threads - 1; }))
        << threadsOfThisProcess() << " threads, " << threads << " before the unload";
}

using InProcessWithoutMainWindowTest = LibraryTest;

// Right after the load, as the Java side may call it: the request waits for
// the worker's queue. With no source to choose, the selection is signalled.
TEST_F(InProcessWithoutMainWindowTest, SelectionRunsOnTheWorkerAndReportsNoSource)
{
    BoxCloser boxes;
    lib.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr);
    EXPECT_TRUE(waitUntil([&] { return lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr) != 0; },
                          10000));
    EXPECT_EQ(2, lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr));
    // Without a parent there is no TwainWindow, neither child nor top-level.
    EXPECT_EQ(nullptr, FindWindowA(kTwainWindowClass, kTwainWindowTitle));
}

} // namespace

namespace {

// The main window belongs to the thread that unloads the library, which
// cannot answer messages while it waits for the worker to stop.
TEST(InProcessUnload, FromTheMainWindowsOwnThreadEndsTheWorkerPromptly)
{
    HWND main = makeMainAppWindow();
    ASSERT_NE(nullptr, main);
    {
        LibraryUnderTest lib;
        ASSERT_TRUE(lib.loaded()) << lib.missing;
        HWND twainWindow = nullptr;
        ASSERT_TRUE(waitUntil([&] {
            return (twainWindow = FindWindowExA(main, nullptr, kTwainWindowClass, kTwainWindowTitle)) != nullptr;
        }));
        // This thread answers messages, as the application's UI thread
        // does, until a report has come round through the worker's loop.
        PostMessageA(twainWindow, 1031, 0, 0);
        fakejvm::FakeJvm jvm;
        ASSERT_TRUE(waitUntil([&] {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
            return lib.com_quenlark_foto_TwainHandler_querySelectSource0(jvm.env(), nullptr) == 2;
        }));
        const DWORD start = GetTickCount();
        lib.unload();
        EXPECT_LT(GetTickCount() - start, 2000u);
        EXPECT_FALSE(IsWindow(twainWindow));
    }
    DestroyWindow(main);
}

// The application's UI thread answers nothing for seconds while the worker
// makes TwainWindow, and another thread frees the library 300 ms after
// loading it: the unload ends at once, and a later load works.
TEST(InProcessUnload, WhileTheMainWindowsThreadIsBusyLetsALaterLoadWork)
{
    HWND main = makeMainAppWindow();
    ASSERT_NE(nullptr, main);
    DWORD took = 0;
    std::thread([&took] {
        LibraryUnderTest lib;
        Sleep(300);
        const DWORD start = GetTickCount();
        lib.unload();
        took = GetTickCount() - start;
    }).join();
    EXPECT_LT(took, 1000u) << "the unload held the loader lock waiting for the worker";

    SetLastError(0xDEADBEEF);
    LibraryUnderTest again;
    ASSERT_TRUE(again.loaded()) << "error " << GetLastError();
    EXPECT_TRUE(waitUntil([&] {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        return FindWindowExA(main, nullptr, kTwainWindowClass, kTwainWindowTitle) != nullptr;
    })) << "the reloaded library made no TwainWindow";
    again.unload();
    DestroyWindow(main);
}

} // namespace
