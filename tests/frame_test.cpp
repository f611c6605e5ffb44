// Loading and unloading the library: the window class, the unload notice to
// the Launcher and the worker thread's life.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "process_resources.h"
#include "library_test.h"

namespace {

using resources::threadsOfThisProcess;

// Polls `condition` every 10 ms for up to `ms`.
template <typename Condition>
bool settles(Condition condition, DWORD ms = 10000)
{
    for (DWORD start = GetTickCount(); !condition(); Sleep(10))
        if (GetTickCount() - start > ms) return false;
    return true;
}

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
        // The worker ends once the unload has let go of the loader lock.
        EXPECT_TRUE(settles([&] { return threadsOfThisProcess() == before; }, 5000))
            << "round " << round << ": " << threadsOfThisProcess() << " threads, " << before << " before";
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

namespace {

// A thread that runs into the unmapped library ends the test at once, named,
// rather than waiting for a debugger.
LONG CALLBACK reportAccessViolation(EXCEPTION_POINTERS* exception)
{
    if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    std::fprintf(stderr, "access violation at %p on thread %lu\n", exception->ExceptionRecord->ExceptionAddress,
                 GetCurrentThreadId());
    std::fflush(stderr);
    ExitProcess(3);
}

// Another thread of the host makes and closes events all through the load
// cycles, as a Java VM's threads do. An unload that closes a handle it does not
// own (a value one of these took over) leaves one of them closed, or of
// another kind: counted, and then forgotten rather than closed.
class EventMaker {
public:
    EventMaker() : thread_(CreateThread(nullptr, 0, run, this, 0, nullptr)) {}
    // Stops the thread; the events found closed or of another kind.
    int lost()
    {
        stop_.store(true);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        return lost_;
    }
    bool running() const { return thread_ != nullptr; }

private:
    // Still this thread's event: signalled, reset, then set again.
    static bool stillMine(HANDLE event)
    {
        return WaitForSingleObject(event, 0) == WAIT_OBJECT_0 && ResetEvent(event) &&
               WaitForSingleObject(event, 0) == WAIT_TIMEOUT && SetEvent(event);
    }
    static DWORD WINAPI run(void* self)
    {
        auto* maker = static_cast<EventMaker*>(self);
        HANDLE events[32] = {};
        // Values come free and are taken again all the time: the oldest event
        // closed, a new one made. One closed under this thread shows as a
        // close that fails, a new event with the value of one still held, or,
        // in the check every 64 turns, an event that is no longer this one.
        for (unsigned turn = 0; !maker->stop_.load(); ++turn) {
            HANDLE& slot = events[turn % 32];
            if (slot && !CloseHandle(slot)) ++maker->lost_;
            slot = nullptr;
            HANDLE made = CreateEventA(nullptr, TRUE, TRUE, nullptr);
            for (HANDLE& event : events)
                if (event == made) {
                    ++maker->lost_;
                    event = nullptr;
                }
            slot = made;
            for (HANDLE& event : events)
                if (turn % 64 == 0 && event && !stillMine(event)) {
                    ++maker->lost_;
                    event = nullptr;
                }
        }
        for (HANDLE event : events)
            if (event) CloseHandle(event);
        return 0;
    }
    std::atomic<bool> stop_{false};
    int lost_ = 0;
    HANDLE thread_;
};

// The 32-bit runtime (DWARF unwind tables registered at every load, mingw's
// win32 thread model) makes the lock of its table registry as a semaphore and
// never closes it: one handle per load cycle, which docs/natives.md states.
const long kRuntimeHandlesPerLoad = sizeof(void*) == 4 ? 1 : 0;

// A host that probes the library loads and frees it at once; a Java VM that
// fails to load a class frees it within milliseconds. CI runs a short count;
// DOVRIKNA_LOAD_CYCLES=1000 runs the full series.
// The cycles of one build of the library: `file` null for the shipped one;
// what its runtime is known to leave per cycle.
void loadBackToBack(const char* file, long handlesPerLoad, long heapPerLoad)
{
    char text[16] = "";
    const int cycles = GetEnvironmentVariableA("DOVRIKNA_LOAD_CYCLES", text, sizeof text) ? atoi(text) : 200;
    void* handler = AddVectoredExceptionHandler(1, reportAccessViolation);
    const size_t threadsAtStart = threadsOfThisProcess();
    {
        LibraryUnderTest warmUp(file); // the system modules the library uses stay loaded from here on
        ASSERT_TRUE(warmUp.loaded()) << warmUp.missing;
        Sleep(300);
    }
    ASSERT_TRUE(settles([&] {
        return resources::moduleReferences(L"dovrikna.dll") == 0 && threadsOfThisProcess() == threadsAtStart;
    }));
    const resources::Snapshot before = resources::Snapshot::now();
    const size_t heapBefore = resources::heapBytesInUse();
    const int twainBefore = resources::moduleReferences(L"TWAIN_32.DLL");
    ASSERT_GT(before.kernelHandles, 0) << "the handle table cannot be read";

    DWORD longestUnload = 0;
    EventMaker otherThread;
    ASSERT_TRUE(otherThread.running());
    for (int cycle = 0; cycle < cycles; ++cycle) {
        LibraryUnderTest lib(file);
        ASSERT_TRUE(lib.loaded()) << "cycle " << cycle << ": " << lib.missing;
        // Freed at once, while the worker may not have started; after a yield;
        // and once the worker has had time to reach its loop.
        if (cycle % 3 == 1) Sleep(0);
        if (cycle % 3 == 2) Sleep(cycle % 2 ? 30 : 2);
        const DWORD start = GetTickCount();
        lib.unload();
        longestUnload = std::max(longestUnload, GetTickCount() - start);
    }
    EXPECT_EQ(0, otherThread.lost()) << "events of another thread closed by the unloads";
    std::printf("%d cycles, longest unload %lu ms\n", cycles, static_cast<unsigned long>(longestUnload));
    EXPECT_LT(longestUnload, 1500u) << "an unload waited for a worker that could not stop";

    // A worker ends only once the unload has let go of the loader.
    EXPECT_TRUE(settles([&] { return threadsOfThisProcess() == before.threads; }))
        << threadsOfThisProcess() << " threads, " << before.threads << " before";
    EXPECT_EQ(0, resources::moduleReferences(L"dovrikna.dll"));
    EXPECT_TRUE(settles([&] { return resources::moduleReferences(L"TWAIN_32.DLL") == twainBefore; }))
        << "TWAIN_32.DLL references: " << resources::moduleReferences(L"TWAIN_32.DLL") << ", " << twainBefore
        << " before";
    // A few handles of the system's own (caches, the loader's) may come; none
    // per load but the runtime's.
    const long allowed = before.kernelHandles + 5 + handlesPerLoad * cycles;
    EXPECT_TRUE(settles([&] { return resources::kernelHandlesOfThisProcess() <= allowed; }))
        << resources::kernelHandlesOfThisProcess() << " kernel handles, " << before.kernelHandles << " before";
    EXPECT_EQ(before.windows, resources::windowsOfThisProcess());
    // The runtime's emergency exception pool (18,944 bytes on x86, 74,752 on x64) is
    // allocated at every load: it must go with the unload.
    const long heapGrowth = static_cast<long>(resources::heapBytesInUse()) - static_cast<long>(heapBefore);
    EXPECT_LT(heapGrowth, 64 * 1024 + heapPerLoad * cycles) << heapGrowth / cycles << " bytes per cycle";
    std::printf("kernel handles %d before, %d after; TWAIN_32.DLL references %d before, %d after; heap %+ld bytes\n",
                static_cast<int>(before.kernelHandles), static_cast<int>(resources::kernelHandlesOfThisProcess()),
                twainBefore, resources::moduleReferences(L"TWAIN_32.DLL"), heapGrowth);
    RemoveVectoredExceptionHandler(handler);
}

TEST(FrameLifecycle, BackToBackLoadsAndUnloadsLeaveNothingBehind)
{
    loadBackToBack(nullptr, kRuntimeHandlesPerLoad, 0);
    // The build of the soak runs, whose runtime is the posix thread model's:
    // its records of the unloading thread and the worker are given back only
    // through the TLS callbacks called by hand (2 handles per cycle without);
    // 244 bytes of heap per cycle stay all the same.
    char folder[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    *(std::strrchr(folder, '\\') + 1) = '\0';
    SCOPED_TRACE("bin/counted/dovrikna.dll");
    loadBackToBack((std::string(folder) + "counted\\dovrikna.dll").c_str(), 0, 512);
}

} // namespace
