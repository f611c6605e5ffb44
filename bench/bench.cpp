// Benchmarks of the library against the floor each operation cannot go
// below, measured in the same run with the two interleaved: on a shared
// machine only the ratio means something. Runs under Wine through the
// natives, like the tests, with the stand-ins of the tests behind them.
//   bench.exe          the full set (a few minutes)
//   bench.exe --short  one short round (CI: it builds and runs)
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mftransform.h>
#include <objbase.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pages/image_file_list.h"
#include "desktop/media_detector.h"
#include "host_main_window.h"
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
    WNDCLASSA childClass = {};
    childClass.lpfnWndProc = DefWindowProcA;
    childClass.lpszClassName = "bench_child";
    RegisterClassA(&childClass);
    HWND main = makeMainAppWindow();
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
        // As a Java VM does: JNI_OnLoad returns once the worker is in its loop.
        auto onLoad = reinterpret_cast<DovriknaOnLoad>(
            module ? reinterpret_cast<void*>(GetProcAddress(module, DOVRIKNA_ON_LOAD_EXPORT)) : nullptr);
        const jint version = onLoad ? onLoad(nullptr, nullptr) : 0;
        const double inLoop = nowMicroseconds();
        HWND twainWindow = FindWindowExA(main, nullptr, "com_quenlark_foto_TwainHandler_class", nullptr);
        ok = ok && module && version == JNI_VERSION_1_2 && twainWindow;
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
    if (!ok) return fail("LoadLibrary of dovrikna.dll or bench_empty.dll, JNI_OnLoad, or no TwainWindow");
    const double floor = median(times[kFloor]);
    report(names[kWhole], times[kWhole], times[kFloor], 3.0);
    for (int figure = kLoad; figure < kCount; ++figure)
        std::printf("%-46s %12.2f us %12s    %8.2fx\n", names[figure], median(times[figure]), "",
                    floor > 0 ? median(times[figure]) / floor : 0);
    std::fflush(stdout);
}

// A cache hit of getVideoThumbnail0, against copying the same bytes between
// the same JNI Gets and Releases. The clip is an existing (empty) file: the
// cache keeps frames of files it can stamp.
void thumbnailHit(LONG width, LONG height)
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    instrument::StandinDetector detector;
    if (!lib.loaded() || !detector.installed) return fail("library or stand-in detector");
    standinAddStream(&dovrikna::kMediaTypeVideo, &dovrikna::kFormatVideoInfo, width, height, FALSE);
    const size_t bytes = static_cast<size_t>(width) * height * 3;
    JNIEnv* env = jvm.env();
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string clip = std::string(folder) + "dovrikna-bench-hit.avi";
    CloseHandle(CreateFileA(clip.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    struct Remove {
        const std::string& file;
        ~Remove() { DeleteFileA(file.c_str()); }
    } remove{clip};
    jstring path = jvm.newString(clip);
    jintArray size = jvm.newIntArray({width, height});
    jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(bytes));
    const int created = standinCreated();
    if (lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env, nullptr, path, size, pixels) != 0)
        return fail("the first grab");
    std::vector<jbyte> frame(bytes, 7);

    // The floor: the JNI Gets and Releases and one copy of the bytes, and
    // the one attribute query of the file (by its wide path, as the library
    // asks on NT) that a hit needs to see the file unchanged; also timed
    // against the copy alone.
    const std::wstring wideClip(clip.begin(), clip.end());
    auto copyAlone = [&] {
        const char* text = env->GetStringUTFChars(path, nullptr);
        jint* sizes = env->GetIntArrayElements(size, nullptr);
        jbyte* target = env->GetByteArrayElements(pixels, nullptr);
        std::memcpy(target, frame.data(), bytes);
        sizes[0] = width;
        sizes[1] = height;
        env->ReleaseByteArrayElements(pixels, target, 0);
        env->ReleaseIntArrayElements(size, sizes, 0);
        env->ReleaseStringUTFChars(path, text);
    };
    auto stampAndCopy = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data;
        GetFileAttributesExW(wideClip.c_str(), GetFileExInfoStandard, &data);
        copyAlone();
    };
    jint result = 0;
    auto hit = [&] { result |= lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env, nullptr, path, size, pixels); };
    const int rounds = shortRun ? 2 : 21, batch = shortRun ? 2 : (bytes > 1000000 ? 5 : 50);
    std::vector<double> library, floor, libraryAgain, copyFloor;
    measure(rounds, batch, hit, stampAndCopy, library, floor);
    measure(rounds, batch, hit, copyAlone, libraryAgain, copyFloor);
    if (result != 0 || standinCreated() != created + 1) return fail("a hit that was no hit");
    char figure[64];
    std::snprintf(figure, sizeof figure, "thumbnail cache hit %ldx%ld", width, height);
    report(figure, library, floor, 1.1);
    report("  against the copy alone (no file stamp)", libraryAgain, copyFloor, 1.1);
}

// The least Media Foundation needs for a video's first frame in RGB: a
// source reader made from the URL, its first video stream alone selected,
// one sample read and converted by the platform's video processor (the
// reader itself gives no RGB for compressed video under Wine). True when a
// frame came out.
bool bareMediaFoundationRead(const wchar_t* path)
{
    // {88753B26-5B24-49BD-B2E7-0C445C78C982}, CLSID_VideoProcessorMFT
    static const GUID videoProcessor = {0x88753b26, 0x5b24, 0x49bd, {0xb2, 0xe7, 0x0c, 0x44, 0x5c, 0x78, 0xc9, 0x82}};
    const DWORD video = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    IMFSourceReader* reader = nullptr;
    if (FAILED(MFCreateSourceReaderFromURL(path, nullptr, &reader))) return false;
    reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    reader->SetStreamSelection(video, TRUE);
    IMFSample* sample = nullptr;
    DWORD stream = 0, flags = 0;
    LONGLONG time = 0;
    while (!sample && SUCCEEDED(reader->ReadSample(video, 0, &stream, &flags, &time, &sample))
           && !(flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM))) {
    }
    IMFMediaType *input = nullptr, *output = nullptr;
    IMFTransform* converter = nullptr;
    IMFSample* rgb = nullptr;
    IMFMediaBuffer* buffer = nullptr;
    UINT64 size = 0;
    bool converted = sample && SUCCEEDED(reader->GetCurrentMediaType(video, &input))
                     && SUCCEEDED(input->GetUINT64(MF_MT_FRAME_SIZE, &size))
                     && SUCCEEDED(CoCreateInstance(videoProcessor, nullptr, CLSCTX_INPROC_SERVER, IID_IMFTransform,
                                                   reinterpret_cast<void**>(&converter)))
                     && SUCCEEDED(converter->SetInputType(0, input, 0)) && SUCCEEDED(MFCreateMediaType(&output))
                     && SUCCEEDED(input->CopyAllItems(output))
                     && SUCCEEDED(output->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32))
                     && SUCCEEDED(converter->SetOutputType(0, output, 0))
                     && SUCCEEDED(converter->ProcessInput(0, sample, 0)) && SUCCEEDED(MFCreateSample(&rgb))
                     && SUCCEEDED(MFCreateMemoryBuffer(static_cast<DWORD>((size >> 32) * (size & 0xFFFFFFFF) * 4), &buffer))
                     && SUCCEEDED(rgb->AddBuffer(buffer));
    if (converted) {
        MFT_OUTPUT_DATA_BUFFER out = {};
        out.pSample = rgb;
        DWORD status = 0;
        converted = SUCCEEDED(converter->ProcessOutput(0, 1, &out, &status));
        if (out.pEvents) out.pEvents->Release();
    }
    for (IUnknown* object : std::initializer_list<IUnknown*>{buffer, rgb, converter, output, input, sample, reader})
        if (object) object->Release();
    return converted;
}

// A grab of getVideoThumbnail0 that misses the cache (two clips taken in
// turn), against the bare read of the same clip. With `detector` the
// platform's media detector is asked first, as on any machine; without, a
// stand-in that fails at once shows Media Foundation's part alone.
void thumbnailGrab(bool platformDetector)
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    std::unique_ptr<instrument::StandinDetector> standin;
    if (!platformDetector) {
        standin.reset(new instrument::StandinDetector);
        standinFail(kStepPutFilename, E_FAIL);
    }
    if (!lib.loaded() || (standin && !standin->installed)) return fail("library or stand-in detector");
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    const char* const clips[] = {"h264.mp4", "turned90.mp4"};
    const wchar_t* const wideClips[] = {L"h264.mp4", L"turned90.mp4"};
    JNIEnv* env = jvm.env();
    jint result = 0;
    bool bare = true;
    int grabs = 0, reads = 0; // each side takes the clips in turn: every grab misses the cache
    const int rounds = shortRun ? 2 : 21;
    // The arguments of every call made beforehand, for a frame either clip fits in.
    std::vector<jstring> paths;
    std::vector<jintArray> sizes;
    std::vector<jbyteArray> arrays;
    for (int i = 0; i <= rounds; ++i) {
        paths.push_back(jvm.newString(clips[i % 2]));
        sizes.push_back(jvm.newIntArray({320, 480}));
        arrays.push_back(jvm.newByteArray(std::vector<jbyte>(320 * 480 * 3)));
    }
    auto grab = [&] {
        result |= lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env, nullptr, paths[grabs], sizes[grabs],
                                                                     arrays[grabs]);
        ++grabs;
    };
    grab(); // the first grab of the process loads the media code: not timed
    std::vector<double> library, floor;
    measure(rounds, 1, grab, [&] { bare = bareMediaFoundationRead(wideClips[reads++ % 2]) && bare; }, library,
            floor);
    MFShutdown();
    if (result != 0 || !bare) return fail("a grab without a frame");
    report(platformDetector ? "thumbnail grab, platform detector first" : "thumbnail grab, Media Foundation alone",
           library, floor, 1.2);
    // Each round's two sides ran back to back: their ratio is less swayed by
    // the load of a shared machine, which changes over seconds.
    std::vector<double> ratios;
    for (size_t i = 0; i < library.size() && i < floor.size(); ++i) ratios.push_back(library[i] / floor[i]);
    std::printf("%-46s %12.2fx (median of %zu rounds)\n", "  each round's ratio", median(ratios), ratios.size());
}

// One process's first grab (`grab`) or first bare read (`bare`) of the
// clip, made in a child process of this program; its time in microseconds
// as the child prints it, or -1. The child's start and the library's load
// are not timed: the grab loads Media Foundation itself, so the bare read's
// time includes MFStartup.
double firstInProcess(const char* what, const char* clip)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" --first " + what + " " + clip;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                        &process);
    CloseHandle(writeEnd);
    std::string output;
    char chunk[256];
    DWORD got = 0;
    while (started && ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
    CloseHandle(readEnd);
    if (!started) return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return output.empty() ? -1 : std::atof(output.c_str());
}

// The child's side of firstInProcess: prints the time or -1.
int firstChild(const std::string& what, const char* clip)
{
    double took = -1;
    if (what == "grab") {
        LibraryUnderTest lib;
        fakejvm::FakeJvm jvm;
        jintArray size = jvm.newIntArray({320, 480});
        jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(320 * 480 * 3));
        jstring path = jvm.newString(clip);
        const double start = nowMicroseconds();
        const jint result = lib.loaded()
                                ? lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(jvm.env(), nullptr, path, size, pixels)
                                : -1;
        if (result == 0) took = nowMicroseconds() - start;
    } else {
        CoInitialize(nullptr);
        wchar_t wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, clip, -1, wide, MAX_PATH);
        const double start = nowMicroseconds();
        if (what == "detector") {
            // The platform detector's attempt as it stood before the library
            // learnt to skip it: create, open the file, ask the frame's size.
            dovrikna::IMediaDet* detector = nullptr;
            BSTR name = SysAllocString(wide);
            LONG needed = 0;
            if (SUCCEEDED(CoCreateInstance(dovrikna::kClsidMediaDet, nullptr, CLSCTX_INPROC_SERVER,
                                           dovrikna::kIidMediaDet, reinterpret_cast<void**>(&detector)))) {
                detector->put_Filename(name);
                detector->GetBitmapBits(0.0, &needed, nullptr, 320, 240);
                detector->Release();
                took = nowMicroseconds() - start;
            }
            SysFreeString(name);
        } else if (SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_FULL)) && bareMediaFoundationRead(wide)) {
            took = nowMicroseconds() - start;
        }
    }
    std::printf("%.1f\n", took);
    return took < 0;
}

// The first grab of a process against the first bare read of another, and
// in the same rounds the platform detector's attempt alone in a third (what
// a first grab paid before Media Foundation when it opened the file).
void thumbnailFirstGrab()
{
    std::vector<double> library, floor, detector, ratios;
    for (int round = 0; round < (shortRun ? 1 : 7); ++round) {
        library.push_back(firstInProcess("grab", "h264.mp4"));
        floor.push_back(firstInProcess("bare", "h264.mp4"));
        detector.push_back(firstInProcess("detector", "h264.mp4"));
        ratios.push_back(library.back() / floor.back());
    }
    if (std::count(library.begin(), library.end(), -1.0) || std::count(floor.begin(), floor.end(), -1.0))
        return fail("a first grab or read without a frame");
    report("thumbnail first grab of a process", library, floor, 1.2);
    std::printf("%-46s %12.2fx (median of %zu rounds)\n", "  each round's ratio", median(ratios), ratios.size());
    std::printf("%-46s %12.2f us (median of %zu)\n", "  the platform detector's attempt alone", median(detector),
                detector.size());
    std::fflush(stdout);
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

    std::vector<double> library, floor, getCalls;
    const int pages = 16;
    standin::Transfer transfers[pages];
    for (int i = 0; i < pages; ++i) transfers[i] = instrument::page(dovrikna::TWRC_XFERDONE, static_cast<dovrikna::TW_UINT16>(pages - 1 - i));
    for (int batch = 0; batch < (shortRun ? 1 : 12); ++batch) {
        scanning.setTransfers(transfers, pages);
        scanning.dsm.clear();
        if (!scanning.acquireAndScan() || scanning.poll() != instrument::kSignalled) {
            fail("the first page of a batch");
            break;
        }
        // The hand-over alone, once the batch is transferred (and the source
        // and manager closed): while it runs each page would wait for its transfer.
        if (!twaintest::waitUntil([&] {
                const std::vector<std::string> names = twaintest::callNames(twaintest::loggedCalls(scanning.dsm));
                return std::find(names.begin(), names.end(), "CLOSEDSM") != names.end();
            })) {
            fail("the batch did not end");
            break;
        }
        for (int i = 1; i < pages; ++i) {
            // The Java side takes a path (which asks for the next), then polls for the next one.
            const double start = nowMicroseconds();
            const std::string taken = scanning.takePath();
            const double takenAt = nowMicroseconds();
            const jint status = scanning.poll();
            library.push_back(nowMicroseconds() - start);
            getCalls.push_back(takenAt - start);
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
    std::printf("%-46s %12.2f us (median)\n", "  of which getImageFile0 itself", median(getCalls));
}

// A source that takes a set time per page, and a Java side that takes each
// path as soon as it is signalled: how long after its transfer ended each
// page reached the Java side, in page times. Goal: within one page time for
// every page (a batch handed over only at its end gives (N-1)/2 on average).
void pageFlow()
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    instrument::Scanning scanning(lib, jvm);
    twaintest::useFreshTempDirectory("bench-flow");
    if (!lib.loaded() || !scanning.loadManager()) return fail("library or stand-in manager");

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int pages = shortRun ? 4 : 12;
    const int pageMs = shortRun ? 50 : 100;
    standin::Transfer transfers[16];
    for (int i = 0; i < pages; ++i) {
        transfers[i] = instrument::page(dovrikna::TWRC_XFERDONE, static_cast<dovrikna::TW_UINT16>(pages - 1 - i));
        transfers[i].sleepMs = pageMs;
    }
    std::vector<double> delays; // in page times
    for (int batch = 0; batch < (shortRun ? 1 : 3); ++batch) {
        scanning.dsm.clear();
        scanning.setTransfers(transfers, pages);
        if (!scanning.acquireAndScan()) return fail("the source's dialog");
        std::vector<LONGLONG> signalled;
        for (int i = 0; i < pages; ++i) {
            if (scanning.poll() != instrument::kSignalled) return fail("a page of the slow source");
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            signalled.push_back(now.QuadPart);
            DeleteFileA(scanning.takePath().c_str());
        }
        if (scanning.poll() != instrument::kFinished) return fail("the slow batch did not finish");
        std::vector<LONGLONG> ended; // each page's transfer, as the source returned from it
        for (const standin::Call& call : twaintest::loggedCalls(scanning.dsm))
            if (call.dat == dovrikna::DAT_IMAGEFILEXFER) ended.push_back(call.returned);
        if (ended.size() != signalled.size()) return fail("transfers and hand-overs do not pair");
        for (size_t i = 0; i < ended.size(); ++i)
            delays.push_back((signalled[i] - ended[i]) * 1000.0 / frequency.QuadPart / pageMs);
    }
    double sum = 0;
    for (double delay : delays) sum += delay;
    const double mean = delays.empty() ? 0 : sum / delays.size();
    const double worst = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
    char figure[64];
    std::snprintf(figure, sizeof figure, "page transfer to hand-over, %d pages of %d ms", pages, pageMs);
    std::printf("%-46s %9.3f page times (mean; worst %.3f)   goal <= 1.0%s\n", figure, mean, worst,
                worst > 1.0 ? "  MISSED" : "");
    std::fflush(stdout);
}

// The highest working set while `body` runs, sampled by a thread of its own,
// above the level before it: the peak of a page whose image stays whole for
// most of its transfer.
double workingSetRise(const std::function<void()>& body)
{
    auto workingSet = [] {
        PROCESS_MEMORY_COUNTERS counters = {sizeof counters};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return static_cast<double>(counters.WorkingSetSize);
    };
    const double before = workingSet();
    std::atomic<bool> running{true};
    std::atomic<double> highest{before};
    std::thread sampler([&] {
        while (running.load()) {
            highest.store(std::max(highest.load(), workingSet()));
            Sleep(1);
        }
    });
    body();
    highest.store(std::max(highest.load(), workingSet()));
    running.store(false);
    sampler.join();
    return highest.load() - before;
}

enum PageKind { kGlobalDib = 1, kBitmap = 2, kStrips = 3 };

// One page of a source without file transfer, a 24-bit A4 page at 600 dpi,
// natively (a global-memory DIB or a bitmap handle) or in memory strips of
// 64 KB (the sample source's buffer): acquireImage0 until the page's path
// and then STATUS_FINISHED, against the floor, the source's own work in this
// process (its block, or each strip, made and filled by the stand-in's own
// code: a copy of its loops built into this program ran at another speed, a
// third apart in one build) and one write of the file's bytes into a new
// file (of strips, in writes of up to 1 MB, as the library's). Time, and the
// working set's rise in page sizes.
void pageFigure(PageKind kind)
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    instrument::Scanning scanning(lib, jvm);
    const std::string folder = twaintest::useFreshTempDirectory("bench-page");
    if (!lib.loaded() || !scanning.loadManager()) return fail("library or stand-in manager");
    const standin::NativeImage image = {kind == kBitmap ? 2 : 1, 4960, 7016, 24, 0, 0, 0};
    const standin::NativeDibShape shape(image);
    const std::size_t stripBytes = 65536, stripRows = stripBytes / shape.stride;
    standin::Transfer transfer = instrument::page(dovrikna::TWRC_FAILURE, 0);
    scanning.script->xferMech = {dovrikna::TWRC_SUCCESS, dovrikna::TWON_ENUMERATION, 1, 1, {dovrikna::TWSX_NATIVE}};
    if (kind == kStrips) {
        scanning.script->xferMech.items[0] = dovrikna::TWSX_MEMORY;
        scanning.script->memLimits = {static_cast<dovrikna::TW_UINT32>(shape.stride), stripBytes, stripBytes};
        transfer.memory = {1, dovrikna::TWPT_RGB, image.width, image.height, 0, 0, 0, 0, 0};
    } else {
        transfer.native = image;
    }

    bool pageOk = true;
    std::vector<double> segments[3];
    const std::function<void()> library = [&] {
        scanning.setTransfers(&transfer, 1);
        // The scan button as soon as the source's window is up: the user's
        // reaction is no part of the page.
        const double t0 = nowMicroseconds();
        lib.com_quenlark_foto_TwainHandler_acquireImage0(jvm.env(), nullptr);
        for (const DWORD start = GetTickCount(); !scanning.dsm.sourceWindow() && GetTickCount() - start < 10000;)
            Sleep(1);
        const double t1 = nowMicroseconds();
        PostMessageA(scanning.dsm.sourceWindow(), standin::kScanButton, 0, 0);
        // Polls a millisecond apart, the worker's core left to the worker.
        auto poll = [&]() -> jint {
            for (const DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(1)) {
                const jint status = lib.com_quenlark_foto_TwainHandler_queryImageFile0(jvm.env(), nullptr);
                if (status != instrument::kPending && status != instrument::kIdle) return status;
            }
            return instrument::kPending;
        };
        pageOk = pageOk && poll() == instrument::kSignalled;
        const double t2 = nowMicroseconds();
        const std::string path = scanning.takePath();
        pageOk = pageOk && poll() == instrument::kFinished && !path.empty();
        const double t3 = nowMicroseconds();
        segments[0].push_back(t1 - t0);
        segments[1].push_back(t2 - t1);
        segments[2].push_back(t3 - t2);
    };
    const std::string floorFile = folder + "floor.bmp";
    const std::function<void()> floor = [&] {
        unsigned char fileHeader[14 + 40] = {'B', 'M'};
        std::vector<unsigned char> header(shape.headerBytes());
        standin::writeNativeHeader(image, header.data());
        HANDLE file = CreateFileA(floorFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD written = 0;
        // The image as the source makes it, by the source's own code.
        if (kind == kGlobalDib) {
            HGLOBAL block = scanning.dsm.makeImage(&image, 1);
            auto* dib = static_cast<unsigned char*>(GlobalLock(block));
            WriteFile(file, fileHeader, 14, &written, nullptr);
            WriteFile(file, dib, static_cast<DWORD>(shape.size()), &written, nullptr);
            GlobalUnlock(block);
            GlobalFree(block);
        } else if (kind == kBitmap) {
            HANDLE bitmap = scanning.dsm.makeImage(&image, 1);
            DIBSECTION section = {};
            GetObjectA(bitmap, sizeof section, &section);
            // A bitmap's header is not in its memory: it goes with the file header.
            std::memcpy(fileHeader + 14, header.data(), 40);
            WriteFile(file, fileHeader, sizeof fileHeader, &written, nullptr);
            WriteFile(file, section.dsBm.bmBits, static_cast<DWORD>(shape.size() - shape.headerBytes()), &written,
                      nullptr);
            DeleteObject(bitmap);
        } else {
            // Each strip as the source fills it (rows padded with zeros), in
            // place in a band of whole strips up to 1 MB written at once: a
            // write per strip of 58 KB made this floor a seventh slower.
            const long perStrip = static_cast<long>(stripRows);
            const long bandRows = std::max<long>(1, long((1 << 20) / (stripRows * shape.stride))) * perStrip;
            std::vector<unsigned char> band(bandRows * shape.stride);
            std::memcpy(fileHeader + 14, header.data(), 40);
            WriteFile(file, fileHeader, sizeof fileHeader, &written, nullptr);
            for (long row = 0; row < shape.rows; row += bandRows) {
                const long rows = std::min<long>(bandRows, shape.rows - row);
                for (long r = 0; r < rows; r += perStrip)
                    scanning.dsm.fillStrip(&transfer.memory, row + r, std::min<long>(perStrip, rows - r), 1,
                                           band.data() + r * shape.stride);
                WriteFile(file, band.data(), static_cast<DWORD>(rows * shape.stride), &written, nullptr);
            }
        }
        CloseHandle(file);
    };
    auto clean = [&] {
        DeleteFileA(floorFile.c_str());
        DeleteFileA((folder + "kel0.bmp").c_str());
    };

    std::vector<double> libraryTimes, floorTimes, libraryMemory, floorMemory;
    auto timed = [&](const std::function<void()>& body, std::vector<double>& times) {
        // A session begun right after the last one ended found the source's
        // window (the stand-in's CreateWindowA in MSG_ENABLEDS) 12 ms in the
        // making instead of 2.5 ms; 20 ms of anything in between took that
        // away, and a user's next scan never comes so soon.
        Sleep(50);
        const double start = nowMicroseconds();
        body();
        times.push_back(nowMicroseconds() - start);
        clean();
    };
    auto peak = [&](const std::function<void()>& body, std::vector<double>& rises) {
        rises.push_back(workingSetRise(body) / shape.size());
        clean();
    };
    for (int round = 0; round < (shortRun ? 1 : 15); ++round) {
        const bool floorFirst = round % 2;
        timed(floorFirst ? floor : library, floorFirst ? floorTimes : libraryTimes);
        timed(floorFirst ? library : floor, floorFirst ? libraryTimes : floorTimes);
        peak(floorFirst ? floor : library, floorFirst ? floorMemory : libraryMemory);
        peak(floorFirst ? library : floor, floorFirst ? libraryMemory : floorMemory);
    }
    RemoveDirectoryA(folder.c_str());
    if (!pageOk) return fail("a page was not handed over");
    const char* const names[] = {"", "native page, global-memory DIB", "native page, bitmap handle",
                                 "memory page, strips of 64 KB"};
    char figure[64];
    std::snprintf(figure, sizeof figure, "%s 4960x7016x24", names[kind]);
    report(figure, libraryTimes, floorTimes, 1.3);
    // Each round's two sides ran back to back: their ratio is less swayed by
    // the load of a shared machine, which changes over seconds.
    std::vector<double> ratios;
    for (size_t i = 0; i < libraryTimes.size() && i < floorTimes.size(); ++i)
        ratios.push_back(libraryTimes[i] / floorTimes[i]);
    std::printf("%-46s %12.2fx (median of %zu rounds)\n", "  each round's ratio", median(ratios), ratios.size());
    // Where the library's time goes: the session's start up to the source's
    // window, the page itself, and the session's end.
    std::printf("%-46s %9.2f ms, %.2f ms, %.2f ms\n", "  to the window; scan to path; path to the end",
                median(segments[0]) / 1000, median(segments[1]) / 1000, median(segments[2]) / 1000);
    const double rise = median(libraryMemory), goal = kind == kStrips ? 0.1 : 1.1;
    std::printf("%-46s %8.2f pages %8.2f pages %11s   goal <= %.1f pages%s\n", "  peak working set above the start",
                rise, median(floorMemory), "", goal, rise > goal ? "  MISSED" : "");
    std::fflush(stdout);
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
    // Optional: --short, and the groups to run (load drive thumbnail firstgrab pages flow names).
    if (argc == 4 && std::strcmp(argv[1], "--first") == 0) return firstChild(argv[2], argv[3]);
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
    if (!wanted("thumbnail") && wanted("firstgrab")) thumbnailFirstGrab();
    if (wanted("thumbnail")) {
        thumbnailHit(320, 240);
        thumbnailHit(1920, 1080);
        thumbnailGrab(true);
        thumbnailGrab(false);
        thumbnailFirstGrab();
    }
    if (wanted("pages")) {
        pageFigure(kGlobalDib);
        pageFigure(kBitmap);
        pageFigure(kStrips);
        pageHandOver();
    }
    if (wanted("flow")) pageFlow();
    if (wanted("names")) tempNames();
    // Last: back-to-back loads and unloads can still bring the process down.
    if (wanted("load")) loadAndUnload();
    return failures ? 1 : 0;
}
