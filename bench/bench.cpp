// Benchmarks of the library against the floor each operation cannot go
// below, measured in the same run with the two interleaved: on a shared
// machine only the ratio means something. Runs under Wine through the
// natives, like the tests, with the stand-ins of the tests behind them.
//   bench.exe          the full set (a few minutes)
//   bench.exe --short  one short round (CI: it builds and runs)
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/image_file_list.h"
#include "desktop/media_detector.h"
#include "java_scanning.h"

namespace {

bool shortRun = false;

double nowMicroseconds()
{
    static const double perSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1e6 / perSecond;
}

double median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int failures = 0;

void report(const char* figure, const std::vector<double>& library, const std::vector<double>& floor, double goal)
{
    const double lib = median(library), base = median(floor);
    const double ratio = base > 0 ? lib / base : 0;
    std::printf("%-46s %12.2f us %12.2f us %8.2fx   goal <= %.1fx%s\n", figure, lib, base, ratio, goal,
                ratio > goal ? "  MISSED" : "");
    std::fflush(stdout);
}

void fail(const char* what)
{
    std::printf("FAILED: %s\n", what);
    std::fflush(stdout);
    ++failures;
}

// `rounds` samples of each side, `batch` calls per sample, the side that goes
// first alternating; per-call times in microseconds.
void measure(int rounds, int batch, const std::function<void()>& library, const std::function<void()>& floor,
             std::vector<double>& libraryTimes, std::vector<double>& floorTimes)
{
    auto time = [&](const std::function<void()>& body) {
        const double start = nowMicroseconds();
        for (int i = 0; i < batch; ++i) body();
        return (nowMicroseconds() - start) / batch;
    };
    for (int round = 0; round < rounds; ++round) {
        if (round % 2) {
            floorTimes.push_back(time(floor));
            libraryTimes.push_back(time(library));
        } else {
            libraryTimes.push_back(time(library));
            floorTimes.push_back(time(floor));
        }
    }
}

// LoadLibrary + FreeLibrary of the library, with its worker let reach its
// loop in between, against an empty DLL; then where the time goes: each step
// that the load and unload sequences take, alone, in the same rounds. Runs
// while nothing else holds the library, so that each load is a real one.
DWORD WINAPI threadThatEnds(void*)
{
    return 0;
}

// The worker's own start and end without the rest: a message queue, a hidden
// child window of the main window, and the end of both on WM_QUIT.
DWORD WINAPI threadWithChildWindow(void* parent)
{
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    HWND window = CreateWindowExA(WS_EX_NOPARENTNOTIFY, "bench_child", "", WS_CHILD, 0, 0, 1, 1,
                                  static_cast<HWND>(parent), nullptr, nullptr, nullptr);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    DestroyWindow(window);
    return 0;
}

LRESULT CALLBACK passHook(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void loadAndUnload()
{
    // The application's main window, so that the worker makes TwainWindow:
    // a message sent to that window is answered once the worker is in its loop.
    WNDCLASSA mainClass = {};
    mainClass.lpfnWndProc = DefWindowProcA;
    mainClass.lpszClassName = "com.quenlark.ui.Dovrik";
    RegisterClassA(&mainClass);
    WNDCLASSA childClass = {};
    childClass.lpfnWndProc = DefWindowProcA;
    childClass.lpszClassName = "bench_child";
    RegisterClassA(&childClass);
    HWND main = CreateWindowA(mainClass.lpszClassName, "quenLark", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, nullptr, nullptr);
    if (!main) return fail("the main window");

    enum { kWhole, kLoad, kToLoop, kUnload, kFloor, kCom, kThread, kWindowThread, kQueueThread, kManager, kHooks, kCount };
    const char* names[kCount] = {"load, worker in its loop, unload", "  LoadLibrary", "  until the worker's loop",
                                 "  FreeLibrary", "empty DLL: LoadLibrary + FreeLibrary",
                                 "step: CoInitialize + CoUninitialize", "step: a thread's start and end",
                                 "step: thread + queue + child window, ended", "step: thread + queue, no window",
                                 "step: TWAIN_32.DLL load + free",
                                 "step: three message hooks set and removed"};
    std::vector<double> times[kCount];
    bool ok = true;
    auto timed = [&](int figure, const std::function<void()>& body) {
        const double start = nowMicroseconds();
        body();
        times[figure].push_back(nowMicroseconds() - start);
    };
    auto library = [&] {
        const double start = nowMicroseconds();
        HMODULE module = LoadLibraryA("dovrikna.dll");
        const double loaded = nowMicroseconds();
        HWND twainWindow = nullptr;
        for (int spin = 0; module && !twainWindow && spin < 200000; ++spin) {
            twainWindow = FindWindowExA(main, nullptr, "com_quenlark_foto_TwainHandler_class", nullptr);
            if (!twainWindow) SwitchToThread();
        }
        if (twainWindow) SendMessageA(twainWindow, WM_NULL, 0, 0);
        const double inLoop = nowMicroseconds();
        ok = ok && module && twainWindow;
        FreeLibrary(module);
        const double end = nowMicroseconds();
        times[kWhole].push_back(end - start);
        times[kLoad].push_back(loaded - start);
        times[kToLoop].push_back(inLoop - loaded);
        times[kUnload].push_back(end - inLoop);
    };
    auto steps = [&] {
        timed(kFloor, [&] {
            HMODULE module = LoadLibraryA("bench_empty.dll");
            ok = ok && module;
            FreeLibrary(module);
        });
        timed(kCom, [] {
            if (SUCCEEDED(CoInitialize(nullptr))) CoUninitialize();
        });
        timed(kThread, [] {
            HANDLE thread = CreateThread(nullptr, 0, threadThatEnds, nullptr, 0, nullptr);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        });
        // With a parent the thread makes its child window; without one it
        // makes none (a child needs a parent) and only waits in its loop.
        for (HWND parent : {main, HWND()}) {
            timed(parent ? kWindowThread : kQueueThread, [&] {
                DWORD id = 0;
                HANDLE thread = CreateThread(nullptr, 0, threadWithChildWindow, parent, 0, &id);
                HWND child = nullptr;
                for (int spin = 0; parent && !child && spin < 200000; ++spin)
                    if (!(child = FindWindowExA(main, nullptr, "bench_child", nullptr))) SwitchToThread();
                if (child) SendMessageA(child, WM_NULL, 0, 0);
                // Posted until the queue exists and takes it.
                while (!PostThreadMessageA(id, WM_QUIT, 0, 0)) SwitchToThread();
                WaitForSingleObject(thread, INFINITE);
                CloseHandle(thread);
            });
        }
        timed(kManager, [] {
            if (HMODULE manager = LoadLibraryA("TWAIN_32.DLL")) FreeLibrary(manager);
        });
        timed(kHooks, [] {
            HHOOK hooks[] = {SetWindowsHookExA(WH_GETMESSAGE, passHook, nullptr, GetCurrentThreadId()),
                             SetWindowsHookExA(WH_CALLWNDPROC, passHook, nullptr, GetCurrentThreadId()),
                             SetWindowsHookExA(WH_CALLWNDPROCRET, passHook, nullptr, GetCurrentThreadId())};
            for (HHOOK hook : hooks) UnhookWindowsHookEx(hook);
        });
    };
    for (int round = 0; round < (shortRun ? 2 : 201); ++round) {
        if (round % 2) {
            steps();
            library();
        } else {
            library();
            steps();
        }
    }
    DestroyWindow(main);
    if (!ok) return fail("LoadLibrary of dovrikna.dll or bench_empty.dll, or no TwainWindow");
    const double floor = median(times[kFloor]);
    report(names[kWhole], times[kWhole], times[kFloor], 3.0);
    for (int figure = kLoad; figure < kCount; ++figure)
        std::printf("%-46s %12.2f us %12s    %8.2fx\n", names[figure], median(times[figure]), "",
                    floor > 0 ? median(times[figure]) / floor : 0);
    std::fflush(stdout);
}

// A cache hit of getVideoThumbnail0, against copying the same bytes between
// the same JNI Gets and Releases.
void thumbnailHit(LONG width, LONG height)
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    instrument::StandinDetector detector;
    if (!lib.loaded() || !detector.installed) return fail("library or stand-in detector");
    standinAddStream(&dovrikna::kMediaTypeVideo, &dovrikna::kFormatVideoInfo, width, height, FALSE);
    const size_t bytes = static_cast<size_t>(width) * height * 3;
    JNIEnv* env = jvm.env();
    jstring path = jvm.newString("C:\\clips\\hit.avi");
    jintArray size = jvm.newIntArray({width, height});
    jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(bytes));
    const int created = standinCreated();
    if (lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env, nullptr, path, size, pixels) != 0)
        return fail("the first grab");
    std::vector<jbyte> frame(bytes, 7);

    std::vector<double> library, floor;
    jint result = 0;
    measure(shortRun ? 2 : 21, shortRun ? 2 : (bytes > 1000000 ? 5 : 50),
            [&] { result |= lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env, nullptr, path, size, pixels); },
            [&] {
                const char* text = env->GetStringUTFChars(path, nullptr);
                jint* sizes = env->GetIntArrayElements(size, nullptr);
                jbyte* target = env->GetByteArrayElements(pixels, nullptr);
                std::memcpy(target, frame.data(), bytes);
                sizes[0] = width;
                sizes[1] = height;
                env->ReleaseByteArrayElements(pixels, target, 0);
                env->ReleaseIntArrayElements(size, sizes, 0);
                env->ReleaseStringUTFChars(path, text);
            },
            library, floor);
    if (result != 0 || standinCreated() != created + 1) return fail("a hit that was no hit");
    char figure[64];
    std::snprintf(figure, sizeof figure, "thumbnail cache hit %ldx%ld", width, height);
    report(figure, library, floor, 1.1);
}

// One page's hand-over: the worker's report, queryImageFile0 seeing it,
// getImageFile0 returning the path; against a bare PostThreadMessage to a
// thread that answers through an atomic, polled the same way.
void pageHandOver()
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    instrument::Scanning scanning(lib, jvm);
    twaintest::useFreshTempDirectory("bench-pages");
    if (!lib.loaded() || !scanning.loadManager()) return fail("library or stand-in manager");

    std::atomic<int> answered{0};
    std::atomic<DWORD> echoThread{0};
    std::thread echo([&] {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before the first post
        echoThread = GetCurrentThreadId();
        while (GetMessageA(&message, nullptr, 0, 0) > 0) answered.store(1);
    });
    while (!echoThread) Sleep(1);

    std::vector<double> library, floor;
    const int pages = 16;
    standin::Transfer transfers[pages];
    for (int i = 0; i < pages; ++i) transfers[i] = instrument::page(dovrikna::TWRC_XFERDONE, static_cast<dovrikna::TW_UINT16>(pages - 1 - i));
    for (int batch = 0; batch < (shortRun ? 1 : 12); ++batch) {
        scanning.setTransfers(transfers, pages);
        if (!scanning.acquireAndScan() || scanning.poll() != instrument::kSignalled) {
            fail("the first page of a batch");
            break;
        }
        for (int i = 1; i < pages; ++i) {
            // The Java side takes a path (which asks for the next), then polls for the next one.
            const double start = nowMicroseconds();
            const std::string taken = scanning.takePath();
            const jint status = scanning.poll();
            library.push_back(nowMicroseconds() - start);
            DeleteFileA(taken.c_str());
            if (status != instrument::kSignalled) {
                fail("a page was not handed over");
                break;
            }
            const double floorStart = nowMicroseconds();
            answered.store(0);
            PostThreadMessageA(echoThread, WM_APP, 0, 0);
            while (!answered.load()) SwitchToThread();
            floor.push_back(nowMicroseconds() - floorStart);
        }
        DeleteFileA(scanning.takePath().c_str());
        if (scanning.poll() != instrument::kFinished) fail("the batch did not finish");
    }
    PostThreadMessageA(echoThread, WM_QUIT, 0, 0);
    echo.join();
    report("page hand-over (stand-in source, tiny files)", library, floor, 1.5);
    std::printf("%-46s %12.2f us (median; shortest %.2f us)\n", "  poll-to-path latency", median(library),
                library.empty() ? 0 : *std::min_element(library.begin(), library.end()));
}

// The temp name of a page with K leftover kel*.tif files, against one
// enumeration of kel*.tif in that folder.
void tempNames()
{
    const std::string folder = twaintest::useFreshTempDirectory("bench-names");
    int made = 0;
    for (int leftovers : shortRun ? std::vector<int>{0, 100} : std::vector<int>{0, 100, 1000, 10000}) {
        for (; made < leftovers; ++made) {
            const std::string name = folder + "kel" + std::to_string(made) + ".tif";
            CloseHandle(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        }
        char path[MAX_PATH];
        const std::string expected = folder + "kel" + std::to_string(leftovers) + ".tif";
        if (!dovrikna::pickTempFileName(".tif", path) || expected != path) return fail("the lowest free name");
        std::vector<double> library, floor;
        const int batch = leftovers >= 10000 ? 1 : leftovers >= 1000 ? 5 : 50;
        size_t seen = 0;
        measure(shortRun ? 2 : 9, batch, [&] { dovrikna::pickTempFileName(".tif", path); },
                [&] {
                    WIN32_FIND_DATAA found;
                    HANDLE search = FindFirstFileA((folder + "kel*.tif").c_str(), &found);
                    if (search == INVALID_HANDLE_VALUE) return;
                    do ++seen;
                    while (FindNextFileA(search, &found));
                    FindClose(search);
                },
                library, floor);
        char figure[64];
        std::snprintf(figure, sizeof figure, "temp name, %d leftover kel*.tif", leftovers);
        report(figure, library, floor, 1.5);
    }
    for (int n = 0; n < made; ++n) DeleteFileA((folder + "kel" + std::to_string(n) + ".tif").c_str());
    RemoveDirectoryA(folder.c_str());
}

// getDriveType0 against GetDriveTypeA between the same JNI string Get and Release.
void driveType()
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    if (!lib.loaded()) return fail("library");
    JNIEnv* env = jvm.env();
    jstring root = jvm.newString("C:\\");
    std::vector<double> library, floor;
    jint kinds = 0;
    UINT types = 0;
    measure(shortRun ? 2 : 21, shortRun ? 10 : 2000,
            [&] { kinds += lib.com_quenlark_util_FileSystem_getDriveType0(env, nullptr, root); },
            [&] {
                const char* text = env->GetStringUTFChars(root, nullptr);
                types += GetDriveTypeA(text);
                env->ReleaseStringUTFChars(root, text);
            },
            library, floor);
    if (kinds == 0 || types == 0) return fail("drive C: of no kind");
    report("getDriveType0", library, floor, 1.2);
}

} // namespace

int main(int argc, char** argv)
{
    // Optional: --short, and the groups to run (load drive thumbnail pages names).
    std::string groups;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0)
            shortRun = true;
        else
            groups += std::string(" ") + argv[i];
    }
    auto wanted = [&](const char* group) { return groups.empty() || groups.find(group) != std::string::npos; };
    std::printf("%-46s %15s %15s %9s\n", "figure", "library", "floor", "ratio");
    if (wanted("drive")) driveType();
    if (wanted("thumbnail")) {
        thumbnailHit(320, 240);
        thumbnailHit(1920, 1080);
    }
    if (wanted("pages")) pageHandOver();
    if (wanted("names")) tempNames();
    // Last: back-to-back loads and unloads can still bring the process down.
    if (wanted("load")) loadAndUnload();
    return failures ? 1 : 0;
}
