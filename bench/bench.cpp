// Benchmarks of the library against the floor each operation cannot go
// below, measured in the same run with the two interleaved: on a shared
// machine only the ratio means something. Runs under Wine through the
// natives, like the tests, with the stand-ins of the tests behind them.
//   bench.exe          the full set (a few minutes)
//   bench.exe --short  one short round (CI: it builds and runs)
#include <windows.h>

#include <psapi.h>

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

// LoadLibrary + FreeLibrary of the library, against an empty DLL, and each
// half on its own. Runs while nothing else holds the library, so that each
// load is a real one.
void loadAndUnload()
{
    std::vector<double> library[3], floor[3]; // load + unload, load, unload
    bool loaded = true;
    auto cycle = [&](const char* file, std::vector<double>* times) {
        const double start = nowMicroseconds();
        HMODULE module = LoadLibraryA(file);
        const double middle = nowMicroseconds();
        loaded = loaded && module;
        FreeLibrary(module);
        const double end = nowMicroseconds();
        times[0].push_back(end - start);
        times[1].push_back(middle - start);
        times[2].push_back(end - middle);
    };
    for (int round = 0; round < (shortRun ? 2 : 21); ++round) {
        cycle(round % 2 ? "bench_empty.dll" : "dovrikna.dll", round % 2 ? floor : library);
        cycle(round % 2 ? "dovrikna.dll" : "bench_empty.dll", round % 2 ? library : floor);
    }
    if (!loaded) return fail("LoadLibrary of dovrikna.dll or bench_empty.dll");
    report("LoadLibrary + FreeLibrary", library[0], floor[0], 3.0);
    report("  LoadLibrary alone", library[1], floor[1], 3.0);
    report("  FreeLibrary alone", library[2], floor[2], 3.0);
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

// One native page of a source without file transfer, a 24-bit A4 page at
// 600 dpi: acquireImage0 until the page's path and then STATUS_FINISHED,
// against the floor, the source's own work in this process (its block made
// and filled as the stand-in makes it) and one write of the image behind a
// file header into a new file. Time, and the working set's rise in image sizes.
void nativePage(int kind)
{
    LibraryUnderTest lib;
    fakejvm::FakeJvm jvm;
    instrument::Scanning scanning(lib, jvm);
    const std::string folder = twaintest::useFreshTempDirectory("bench-native");
    if (!lib.loaded() || !scanning.loadManager()) return fail("library or stand-in manager");
    scanning.script->xferMech = {dovrikna::TWRC_SUCCESS, dovrikna::TWON_ENUMERATION, 1, 1, {dovrikna::TWSX_NATIVE}};
    const standin::NativeImage image = {kind, 4960, 7016, 24, 0, 0, 0};
    const standin::NativeDibShape shape(image);
    standin::Transfer transfer = instrument::page(dovrikna::TWRC_FAILURE, 0);
    transfer.native = image;

    bool pageOk = true;
    const std::function<void()> library = [&] {
        scanning.setTransfers(&transfer, 1);
        // The scan button as soon as the source's window is up: the user's
        // reaction is no part of the page.
        lib.com_quenlark_foto_TwainHandler_acquireImage0(jvm.env(), nullptr);
        for (const DWORD start = GetTickCount(); !scanning.dsm.sourceWindow() && GetTickCount() - start < 10000;)
            Sleep(1);
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
        const std::string path = scanning.takePath();
        pageOk = pageOk && poll() == instrument::kFinished && !path.empty();
    };
    const std::string floorFile = folder + "floor.bmp";
    const std::function<void()> floor = [&] {
        unsigned char fileHeader[14 + 40] = {'B', 'M'};
        std::vector<unsigned char> header(shape.headerBytes());
        standin::writeNativeHeader(image, header.data());
        HGLOBAL block = nullptr;
        HBITMAP bitmap = nullptr;
        unsigned char* dib = nullptr;
        if (kind == 1) {
            block = GlobalAlloc(GMEM_MOVEABLE, shape.size());
            dib = static_cast<unsigned char*>(GlobalLock(block));
            std::memcpy(dib, header.data(), header.size());
            standin::writeNativePixels(image, 1, dib + header.size());
        } else {
            void* bits = nullptr;
            bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(header.data()), DIB_RGB_COLORS, &bits,
                                      nullptr, 0);
            standin::writeNativePixels(image, 1, static_cast<unsigned char*>(bits));
            dib = static_cast<unsigned char*>(bits);
        }
        HANDLE file = CreateFileA(floorFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD written = 0;
        if (kind == 1) {
            WriteFile(file, fileHeader, 14, &written, nullptr);
            WriteFile(file, dib, static_cast<DWORD>(shape.size()), &written, nullptr);
            GlobalUnlock(block);
            GlobalFree(block);
        } else {
            // A bitmap's header is not in its memory: it goes with the file header.
            std::memcpy(fileHeader + 14, header.data(), 40);
            WriteFile(file, fileHeader, sizeof fileHeader, &written, nullptr);
            WriteFile(file, dib, static_cast<DWORD>(shape.size() - shape.headerBytes()), &written, nullptr);
            DeleteObject(bitmap);
        }
        CloseHandle(file);
    };
    auto clean = [&] {
        DeleteFileA(floorFile.c_str());
        DeleteFileA((folder + "kel0.bmp").c_str());
    };

    std::vector<double> libraryTimes, floorTimes, libraryMemory, floorMemory;
    auto timed = [&](const std::function<void()>& body, std::vector<double>& times) {
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
    if (!pageOk) return fail("a native page was not handed over");
    const char* name = kind == 1 ? "global-memory DIB" : "bitmap handle";
    char figure[64];
    std::snprintf(figure, sizeof figure, "native page 4960x7016x24, %s", name);
    report(figure, libraryTimes, floorTimes, 1.3);
    const double rise = median(libraryMemory);
    std::printf("%-46s %9.2f DIBs %9.2f DIBs %12s   goal <= 1.1 DIBs%s\n", "  peak working set above the start", rise,
                median(floorMemory), "", rise > 1.1 ? "  MISSED" : "");
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
    if (wanted("pages")) {
        nativePage(1);
        nativePage(2);
        pageHandOver();
    }
    if (wanted("names")) tempNames();
    // Last: back-to-back loads and unloads can still bring the process down.
    if (wanted("load")) loadAndUnload();
    return failures ? 1 : 0;
}
