// Soak runs: one scenario per habit of a long session, each run many times in
// a row, counting what the process holds after the first round and after the
// last. A count that grows with the rounds is a leak; each must stay within
// kSlack of its first-round value. Runs under Wine through the natives of the
// counting build of the library (bin/counted/dovrikna.dll), like the tests.
//   soak.exe          the full rounds (1,000 acquisitions, 10,000 thumbnails...)
//   soak.exe --short  a few rounds of each (CI)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "desktop/media_detector.h"
#include "host_main_window.h"
#include "java_scanning.h"
#include "mapi_standin.h"
#include "open_recorder_client.h"
#include "process_resources.h"

namespace {

const char kCountedLibrary[] = "counted\\dovrikna.dll";
const long kSlack = 5;
bool shortRun = false;
int failures = 0;

void fail(const std::string& what)
{
    std::printf("FAILED: %s\n", what.c_str());
    std::fflush(stdout);
    ++failures;
}

// The owners of platform resources the loaded library holds now; -1 when it
// is not loaded.
long libraryOwners()
{
    HMODULE module = GetModuleHandleA("dovrikna.dll");
    if (!module) return -1;
    using Count = long (*)();
    auto count = reinterpret_cast<Count>(reinterpret_cast<void*>(GetProcAddress(module, "dovrikna_live_owners")));
    return count ? count() : -1;
}

const int kCounts = 7;
struct Counts {
    long values[kCounts];
};
const char* const kNames[kCounts] = {"kernel handles", "threads", "windows", "library's resource owners",
                                     "dovrikna.dll references", "TWAIN_32.DLL references", "mapi32.dll references"};
// The counts every scenario has a baseline of while the library is loaded;
// the other modules are loaded by some scenarios only.
const int kMustBePositive = 5;

// Threads that are on their way out (a shell open's, COM's) are let go
// first: the thread count is read until it holds still.
Counts countNow(long owners)
{
    size_t threads = resources::threadsOfThisProcess();
    for (int still = 0, tries = 0; still < 4 && tries < 100; ++tries) {
        Sleep(50);
        const size_t now = resources::threadsOfThisProcess();
        still = now == threads ? still + 1 : 0;
        threads = now;
    }
    return {{resources::kernelHandlesOfThisProcess(), static_cast<long>(threads),
             static_cast<long>(resources::windowsOfThisProcess()), owners,
             resources::moduleReferences(L"dovrikna.dll"), resources::moduleReferences(L"TWAIN_32.DLL"),
             resources::moduleReferences(L"mapi32.dll")}};
}

// Runs `rounds` rounds, the counts taken after the first and after the last.
// `owners` tells the library's owner count (taken inside the round when the
// library is not loaded between rounds, which `positive` then leaves out of
// the baselines that must be above zero).
void scenario(const char* name, int rounds, const std::function<bool(int)>& round,
              const std::function<long()>& owners = libraryOwners, int positive = kMustBePositive)
{
    std::printf("%s: %d rounds\n", name, rounds);
    std::fflush(stdout);
    const DWORD start = GetTickCount();
    if (!round(0)) return fail(std::string(name) + ": the first round");
    const Counts first = countNow(owners());
    for (int i = 0; i < positive; ++i)
        if (first.values[i] <= 0)
            return fail(std::string(name) + ": no baseline for " + kNames[i] + " (" + std::to_string(first.values[i]) + ")");
    for (int i = 1; i < rounds; ++i)
        if (!round(i)) return fail(std::string(name) + ": round " + std::to_string(i));
    const Counts last = countNow(owners());
    bool flat = true;
    for (int i = 0; i < kCounts; ++i) {
        const long growth = last.values[i] - first.values[i];
        const bool ok = growth <= kSlack && growth >= -kSlack;
        flat = flat && ok;
        std::printf("  %-28s after round 1: %6ld   after round %d: %6ld   %s\n", kNames[i], first.values[i], rounds,
                    last.values[i], ok ? "flat" : "GREW");
    }
    std::printf("  %.1f s\n", (GetTickCount() - start) / 1000.0);
    std::fflush(stdout);
    if (!flat) fail(std::string(name) + ": counts not flat");
}

int scaled(int full, int brief) { return shortRun ? brief : full; }

// 1,000 acquisitions of 1 to 3 pages, some cancelled and some failed, through
// the stand-in manager.
void acquisitions()
{
    using instrument::page;
    using namespace dovrikna;
    LibraryUnderTest lib(kCountedLibrary);
    fakejvm::FakeJvm jvm;
    instrument::Scanning scanning(lib, jvm);
    twaintest::useFreshTempDirectory("soak-scans");
    if (!lib.loaded() || !scanning.loadManager()) return fail("acquisitions: library or stand-in manager");
    struct Kind {
        std::vector<standin::Transfer> transfers;
        int pages; // handed over
    };
    const Kind kinds[] = {
        {{page(TWRC_XFERDONE, 0)}, 1},
        {{page(TWRC_XFERDONE, 1), page(TWRC_XFERDONE, 0)}, 2},
        {{page(TWRC_XFERDONE, 2), page(TWRC_XFERDONE, 1), page(TWRC_XFERDONE, 0)}, 3},
        {{page(TWRC_XFERDONE, 1), page(TWRC_CANCEL, 0)}, 1},
        {{page(TWRC_XFERDONE, 1), page(TWRC_FAILURE, 0)}, 1},
        {{page(TWRC_CANCEL, 0)}, 0},
        {{page(TWRC_FAILURE, 0)}, 0},
    };
    scenario("acquisitions of 1-3 pages, cancelled and failed ones among them", scaled(1000, 21), [&](int i) {
        const Kind& kind = kinds[i % 7];
        scanning.setTransfers(kind.transfers.data(), static_cast<int>(kind.transfers.size()));
        jint end = 0;
        if (!scanning.acquireAndScan()) return false;
        const int pages = scanning.takeAll(&end);
        if (pages != kind.pages || end != instrument::kFinished) {
            std::printf("  acquisition %d: %d pages, status %ld\n", i, pages, static_cast<long>(end));
            return false;
        }
        return true;
    });
}

// Thumbnails: every call a miss, alternating between two clips; then hits.
void thumbnails()
{
    LibraryUnderTest lib(kCountedLibrary);
    fakejvm::FakeJvm jvm;
    instrument::StandinDetector detector;
    if (!lib.loaded() || !detector.installed) return fail("thumbnails: library or stand-in detector");
    standinAddStream(&dovrikna::kMediaTypeVideo, &dovrikna::kFormatVideoInfo, 64, 48, TRUE);
    JNIEnv* env = jvm.env();
    // Existing (empty) files: the cache keeps frames of files it can stamp.
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string files[2] = {std::string(folder) + "dovrikna-soak-one.avi",
                                  std::string(folder) + "dovrikna-soak-two.avi"};
    for (const std::string& file : files)
        CloseHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    struct Remove {
        const std::string* files;
        ~Remove()
        {
            for (int i = 0; i < 2; ++i) DeleteFileA(files[i].c_str());
        }
    } remove{files};
    jstring clips[2] = {jvm.newString(files[0]), jvm.newString(files[1])};
    jintArray size = jvm.newIntArray({64, 48});
    jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(64 * 48 * 3));
    auto call = [&](jstring clip) {
        return lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env, nullptr, clip, size, pixels) == 0;
    };
    const int created = standinCreated();
    const int misses = scaled(10000, 100);
    scenario("thumbnail misses, two clips alternating", misses, [&](int i) { return call(clips[i % 2]); });
    if (standinCreated() - created != misses) fail("thumbnail misses: not every call grabbed");
    scenario("thumbnail hits", scaled(10000, 100), [&](int) { return call(clips[1]); });
    if (standinCreated() - created != misses) fail("thumbnail hits: a hit grabbed");
}

// Load and unload, each time until the worker is in its loop; counted after
// the unload (the library's own owners just before it, and its module
// references, which must be 0 then, not among the baselines).
void loadAndUnload(HWND mainWindow)
{
    long owners = -1;
    scenario("load and unload cycles", scaled(200, 10), [&](int) {
        LibraryUnderTest lib(kCountedLibrary);
        if (!lib.loaded()) return false;
        const bool looping = twaintest::waitUntil([&] {
            return FindWindowExA(mainWindow, nullptr, "com_quenlark_foto_TwainHandler_class", nullptr) != nullptr;
        });
        owners = libraryOwners();
        lib.unload();
        // A library that stays mapped (as it does once an acquisition has
        // left a manager open) would make these cycles measure nothing.
        return looping && GetModuleHandleA("dovrikna.dll") == nullptr;
    }, [&] { return owners; }, kMustBePositive - 1);
}

// Mail through the recording MAPI stand-in, and shell opens of a file of the
// tests' own association.
void mailAndOpen()
{
    LibraryUnderTest lib(kCountedLibrary);
    fakejvm::FakeJvm jvm;
    HMODULE mapi = LoadLibraryA("mapi32.dll"); // the stand-in, kept configured between sends
    MapiStandin standin(mapi);
    if (!lib.loaded() || !standin.ok()) return fail("mail: library or MAPI stand-in (WINEDLLOVERRIDES=mapi32=n,b?)");
    standin.configure(0, 0x5E55);
    JNIEnv* env = jvm.env();
    jstring files = jvm.newString("C:\\photos\\a.jpg;C:\\photos\\b.jpg");
    jstring recipients = jvm.newString("one@example.org;two@example.org");
    scenario("mail sends", scaled(1000, 20), [&](int) {
        standin.clear();
        return lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env, nullptr, ';', files, recipients) == 0 &&
               !standin.text().empty();
    });

    OpenRecorder recorder;
    jstring photo = jvm.newString(recorder.file("photo.dvkopen"));
    scenario("openDefaultApp0 calls", scaled(1000, 10), [&](int) {
        const size_t before = resources::threadsOfThisProcess();
        if (lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env, nullptr, photo) != JNI_TRUE) return false;
        // One open at a time: its thread ends once the program is started.
        return twaintest::waitUntil([&] { return resources::threadsOfThisProcess() <= before; }, 30000);
    });
    FreeLibrary(mapi);
}

} // namespace

int main(int argc, char** argv)
{
    shortRun = argc > 1 && std::strcmp(argv[1], "--short") == 0;
    // MainAppWindow, before any load, so that TwainWindow has its parent.
    HWND mainWindow = makeMainAppWindow();

    // First, while nothing has kept the library mapped. Each load and unload
    // still leaves kernel handles behind (an event and a thread handle of the
    // loading thread's record in the statically linked thread runtime, and
    // one more); until that is mended the cycles run in the full soak only,
    // where they show it.
    if (!shortRun) loadAndUnload(mainWindow);
    acquisitions();
    thumbnails();
    mailAndOpen();
    DestroyWindow(mainWindow);
    std::printf(failures ? "soak: %d failures\n" : "soak: every count flat\n", failures);
    return failures ? 1 : 0;
}
