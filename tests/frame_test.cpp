// Loading and unloading the library: the window class, the unload notice to
// the Launcher and the worker thread's life.
#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <utility>
#include <vector>

#include "process_resources.h"
#include "library_test.h"

namespace {

using resources::threadsOfThisProcess;

const char kTwainWindowClass[] = "com_quenlark_foto_TwainHandler_class";
const char kLauncherClass[] = "QUENLARK_LAUNCHER_CLS_NAME";
const char kLauncherTitle[] = "QUENLARK_LAUNCHER_WIN_NAME";

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Posted& other) const
    {
        return message == other.message && wParam == other.wParam && lParam == other.lParam;
    }
};

std::ostream& operator<<(std::ostream& out, const Posted& posted)
{
    return out << "{" << posted.message << ", " << posted.wParam << ", " << posted.lParam << "}";
}

// A window of this thread standing in for the Launcher's; collects what is posted to it.
class RecordingWindow {
public:
    RecordingWindow(const char* className, const char* title)
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassA(&windowClass);
        window_ = CreateWindowA(className, title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    }
    ~RecordingWindow() { DestroyWindow(window_); }
    HWND handle() const { return window_; }

    // Application messages posted to the window so far.
    std::vector<Posted> taken()
    {
        std::vector<Posted> posted;
        MSG message;
        while (PeekMessageA(&message, window_, WM_USER, 0x7FFF, PM_REMOVE))
            posted.push_back({message.message, message.wParam, message.lParam});
        return posted;
    }

private:
    HWND window_;
};

DWORD WINAPI doNothing(void*)
{
    return 0;
}

using FrameTest = LibraryTest;

TEST_F(FrameTest, LoadRegistersTheTwainWindowClass)
{
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0x5A, sizeof windowClass);
    ASSERT_TRUE(GetClassInfoA(lib.module(), kTwainWindowClass, &windowClass));
    EXPECT_EQ(0u, windowClass.style);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), windowClass.hbrBackground);
    EXPECT_EQ(nullptr, windowClass.hIcon);
    EXPECT_EQ(nullptr, windowClass.hCursor);
    EXPECT_EQ(nullptr, windowClass.lpszMenuName);
    EXPECT_EQ(0, windowClass.cbClsExtra);
    EXPECT_EQ(0, windowClass.cbWndExtra);
}

TEST_F(FrameTest, UnloadPostsOneNoticeToTheLauncherWindowOnly)
{
    RecordingWindow launcher(kLauncherClass, kLauncherTitle);
    RecordingWindow otherTitle(kLauncherClass, "another title");
    ASSERT_NE(nullptr, launcher.handle());
    EXPECT_EQ(std::vector<Posted>{}, launcher.taken());

    lib.unload();

    EXPECT_EQ((std::vector<Posted>{{1025, 0, 0}}), launcher.taken());
    EXPECT_EQ(std::vector<Posted>{}, otherTitle.taken());
}

TEST_F(FrameTest, ThreadAttachAndDetachChangeNothing)
{
    auto entry = reinterpret_cast<BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID)>(
        reinterpret_cast<BYTE*>(lib.module()) +
        reinterpret_cast<IMAGE_NT_HEADERS*>(reinterpret_cast<BYTE*>(lib.module()) +
                                            reinterpret_cast<IMAGE_DOS_HEADER*>(lib.module())->e_lfanew)
            ->OptionalHeader.AddressOfEntryPoint);
    size_t threads = threadsOfThisProcess();

    EXPECT_TRUE(entry(lib.module(), DLL_THREAD_ATTACH, nullptr));
    EXPECT_TRUE(entry(lib.module(), DLL_THREAD_DETACH, nullptr));
    HANDLE thread = CreateThread(nullptr, 0, doNothing, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    WNDCLASSA windowClass;
    EXPECT_TRUE(GetClassInfoA(lib.module(), kTwainWindowClass, &windowClass));
    EXPECT_EQ(threads, threadsOfThisProcess());
}

TEST(FrameLifecycle, LoadStartsOneWorkerAndUnloadRemovesIt)
{
    size_t before = threadsOfThisProcess();
    for (int round = 0; round < 3; ++round) {
        LibraryUnderTest lib;
        ASSERT_TRUE(lib.loaded()) << lib.missing;
        Sleep(round == 0 ? 200 : 0); // once with the worker running, then while it may still be starting
        EXPECT_EQ(before + 1, threadsOfThisProcess()) << "round " << round;
        lib.unload();
        EXPECT_EQ(before, threadsOfThisProcess()) << "round " << round;
    }
}


// Runs work on a thread of its own and waits for it.
template <typename Work>
DWORD WINAPI runWork(void* context)
{
    (*static_cast<Work*>(context))();
    return 0;
}

template <typename Work>
void onOwnThread(Work work)
{
    HANDLE thread = CreateThread(nullptr, 0, runWork<Work>, &work, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// Whether COM is initialised on this thread: CoInitialize answers S_FALSE
// then, S_OK on a thread without it. The probe's own count is given back.
HRESULT comProbe()
{
    const HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr;
}

TEST(FrameLifecycle, ComIsInitialisedForTheLoadingThreadAndEndedOnThatThreadOnly)
{
    // Loaded and unloaded on one thread: COM is there in between, gone after.
    onOwnThread([] {
        LibraryUnderTest lib;
        ASSERT_TRUE(lib.loaded()) << lib.missing;
        EXPECT_EQ(S_FALSE, comProbe()) << "the load did not initialise COM on its thread";
        lib.unload();
        EXPECT_EQ(S_OK, comProbe()) << "the unload did not end the load's COM use";
    });

    // Unloaded on another thread, whose own COM use the unload must leave alone.
    LibraryUnderTest* lib = nullptr;
    onOwnThread([&lib] { lib = new LibraryUnderTest; });
    ASSERT_TRUE(lib && lib->loaded());
    onOwnThread([lib] {
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        lib->unload();
        EXPECT_EQ(S_FALSE, comProbe()) << "the unload ended COM on a thread the library never initialised";
        CoUninitialize();
    });
    delete lib;
}

} // namespace
