// Scanning end to end through the natives: TwainWorker drives the stand-in
// source manager (TWAIN_32.DLL beside this program, WINEDLLOVERRIDES
// twain_32=n,b) while the test plays the Java side and the user.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "scanning_fixture.h"

namespace {

using namespace standin;
using namespace twaintest;
using Names = std::vector<std::string>;

using namespace scanning;

using Scanning = StandinScanning;

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
    Names expected = {"OPENDSM", "GETDEFAULT", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS", "PROCESSEVENT", "GET XFERMECH",
                      "GET IMAGEFILEFORMAT"};
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), transfer.begin(), transfer.end());
    expected.insert(expected.end(), {"DISABLEDS", "CLOSEDS", "CLOSEDSM"});
    EXPECT_EQ(expected, calls());
    for (const Call& call : loggedCalls(dsm)) {
        EXPECT_EQ(worker, call.thread) << callName(call);
        if (call.dat == DAT_USERINTERFACE) EXPECT_EQ(twainWindow, call.parent) << callName(call);
    }
}

TEST_F(Scanning, EachPageIsHandedOverWhileTheSourceMakesTheNext)
{
    // A scanner that takes 400 ms a page, and a Java side that takes each
    // path as soon as it is signalled.
    const int kPages = 4;
    script->transferCount = kPages;
    for (int i = 0; i < kPages; ++i) {
        script->transfers[i] = done(static_cast<TW_UINT16>(kPages - 1 - i));
        script->transfers[i].sleepMs = 400;
    }
    acquire();
    pressScan();
    for (int page = 1; page <= kPages; ++page) {
        ASSERT_EQ(kSignalled, pollImage()) << "page " << page;
        const Names names = calls();
        const long transferred = std::count(names.begin(), names.end(), "IMAGEFILEXFER");
        EXPECT_EQ(temp + "kel" + std::to_string(page - 1) + ".tif", getImageFile());
        EXPECT_EQ(page, transferred) << "transfers ended when page " << page << " was signalled";
    }
    EXPECT_EQ(kFinished, pollImage());
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

TEST_F(Scanning, PageOf200MegabytesComesNativelyInEitherKindOfHandle)
{
    // A 24-bit A4 page at 1,200 dpi or so. The process holds the source's
    // block (in one piece of its address space) and the library a few bands.
    const long width = 7000, rows = 10000, stride = 21000;
    MEMORYSTATUSEX memory = {sizeof memory};
    GlobalMemoryStatusEx(&memory);
    const ULONGLONG needed = 2ULL * stride * rows;
    if (memory.ullAvailPhys < needed || memory.ullAvailVirtual < needed)
        GTEST_SKIP() << "the machine has " << (memory.ullAvailPhys >> 20) << " MB free and the process "
                     << (memory.ullAvailVirtual >> 20) << " MB of address space: a 200 MB page needs twice that";

    PROCESS_MEMORY_COUNTERS before = {sizeof before};
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
    for (const NativeImage image : {NativeImage{1, width, rows, 24, 0, 0, 0}, NativeImage{2, width, -rows, 24, 0, 0, 0}}) {
        SCOPED_TRACE(image.kind == 1 ? "global memory, bottom-up" : "bitmap, top-down");
        Transfer page = {TWRC_SUCCESS, TWRC_FAILURE, TWRC_SUCCESS, 0, 0, "", 0};
        page.native = image;
        setTransfers({page});
        acquire();
        pressScan();
        const Names paths = collect();
        ASSERT_EQ((Names{temp + "kel0.bmp"}), paths);

        // The rows bottom-up, each as the source made it, read back a row at a time.
        HANDLE file = CreateFileA(paths[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        LARGE_INTEGER size = {};
        GetFileSizeEx(file, &size);
        EXPECT_EQ(54 + LONGLONG(stride) * rows, size.QuadPart);
        std::vector<unsigned char> head(54), row(stride), expected(stride);
        DWORD read = 0;
        ReadFile(file, head.data(), 54, &read, nullptr);
        EXPECT_EQ(rows, *reinterpret_cast<LONG*>(&head[22])) << "bottom-up";
        long wrong = -1;
        for (long r = 0; r < rows && wrong < 0; ++r) {
            writeNativeRow(image.height < 0 ? rows - 1 - r : r, stride, 1, expected.data());
            if (!ReadFile(file, row.data(), stride, &read, nullptr) || read != DWORD(stride) || row != expected)
                wrong = r;
        }
        CloseHandle(file);
        DeleteFileA(paths[0].c_str());
        EXPECT_EQ(-1, wrong) << "the first row from the bottom that differs";

        // No copy of the image: the source's block and little more.
        PROCESS_MEMORY_COUNTERS after = {sizeof after};
        GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
        EXPECT_LE(double(after.PeakWorkingSetSize) - double(before.WorkingSetSize), 1.1 * stride * rows)
            << "peak " << (after.PeakWorkingSetSize >> 20) << " MB, " << (before.WorkingSetSize >> 20)
            << " MB before the first page";
    }
}

TEST_F(Scanning, AcquisitionRequestedAndPolledWhileAPathWaitsStillHandsItOver)
{
    setTransfers({done(1), done(0)});
    acquire();
    pressScan();
    ASSERT_TRUE(waitUntil([&] { return querySelect() == kSignalled; }));
    // A poll loop asks for the next acquisition and polls at once, before
    // the worker has seen the request.
    acquire();
    const jint first = queryImage();
    EXPECT_TRUE(first == kPending || first == kSignalled) << first;
    std::vector<std::string> paths;
    if (first == kSignalled) paths.push_back(getImageFile());
    // The request opened the source again (the first batch may still have
    // been running); closing it ends both acquisitions.
    ASSERT_TRUE(waitUntil([&] {
        Names names = calls();
        return std::count(names.begin(), names.end(), "ENABLEDS") == 2 && dsm.sourceWindow() != nullptr;
    }));
    PostMessageA(dsm.sourceWindow(), kCloseButton, 0, 0);
    Names rest = collect();
    paths.insert(paths.end(), rest.begin(), rest.end());
    EXPECT_EQ((Names{temp + "kel0.tif", temp + "kel1.tif"}), paths);
}

// TwainWindow, subclassed to open a message box the way a window of a source
// that answers TWRC_NOTDSEVENT opens its settings dialog.
const UINT kOpenBox = WM_APP + 40;
WNDPROC twainWindowProc = nullptr;
LRESULT CALLBACK boxOpeningProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kOpenBox) return MessageBoxA(window, "Worker box", "Standin", MB_OK);
    return CallWindowProcA(twainWindowProc, window, message, wParam, lParam);
}

TEST_F(Scanning, SelectionRequestedWhileAWindowOfTheWorkerRunsAModalLoopIsKept)
{
    twainWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(twainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(boxOpeningProc)));
    // The user picks "Select source" in the Java window while the box is up.
    BoxCloser boxes([&](const std::string& text) {
        if (text != "Worker box") return;
        selectSource();
        Sleep(300);
    });
    // The box opened by a posted (dispatched) message, then by a sent one
    // that the worker handles while it waits for its next message.
    for (bool sent : {false, true}) {
        const size_t shown = boxes.texts().size();
        if (sent)
            SendNotifyMessageA(twainWindow, kOpenBox, 0, 0);
        else
            PostMessageA(twainWindow, kOpenBox, 0, 0);
        ASSERT_TRUE(boxes.waitFor(shown + 1)) << (sent ? "sent" : "posted");
        EXPECT_EQ(kIdle, pollSelect()) << (sent ? "sent" : "posted");
    }
    EXPECT_EQ((Names{"OPENDSM", "USERSELECT", "CLOSEDSM", "OPENDSM", "USERSELECT", "CLOSEDSM"}), calls());
}

TEST_F(Scanning, ClosingTheSourceWithoutScanningFinishesTheAcquisition)
{
    acquire();
    ASSERT_TRUE(waitUntil([&] { return dsm.sourceWindow() != nullptr; }));
    PostMessageA(dsm.sourceWindow(), kCloseButton, 0, 0);
    EXPECT_EQ(kFinished, pollImage());
    EXPECT_EQ((Names{"OPENDSM", "GETDEFAULT", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS", "PROCESSEVENT", "DISABLEDS", "CLOSEDS",
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

TEST_F(Scanning, UnloadWithASourceOpenLeavesItOpenWithoutWaitingForTheLoader)
{
    // Closing this source frees its module, which needs the loader lock that
    // the unloading thread holds.
    script->sourceModule = 1;
    acquire();
    ASSERT_TRUE(waitUntil([&] { return dsm.sourceWindow() != nullptr; }));
    const DWORD start = GetTickCount();
    lib.unload();
    EXPECT_LT(GetTickCount() - start, 1000u) << "the unload waited for the worker";
    // The library stays mapped and its worker alive; the source is not
    // brought down from under the loader.
    EXPECT_NE(nullptr, GetModuleHandleA("dovrikna.dll"));
    Sleep(300);
    EXPECT_EQ((Names{"OPENDSM", "GETDEFAULT", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"}), calls());
    EXPECT_NE(nullptr, dsm.sourceWindow());
    DWORD exitCode = 0;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, worker);
    ASSERT_NE(nullptr, thread);
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode) && exitCode == STILL_ACTIVE) << "the worker was ended";
    CloseHandle(thread);
}

// Frees the library while the Launcher's window stands by, then sees the
// whole unload sequence run once the manager is closed: the notice, the
// worker's end and the module's unmapping.
void expectUnloadSequence(LibraryUnderTest& lib, DWORD worker, const std::function<void()>& closeManager)
{
    WNDCLASSA launcherClass = {};
    launcherClass.lpfnWndProc = DefWindowProcA;
    launcherClass.lpszClassName = "QUENLARK_LAUNCHER_CLS_NAME";
    RegisterClassA(&launcherClass);
    HWND launcher = CreateWindowA(launcherClass.lpszClassName, "QUENLARK_LAUNCHER_WIN_NAME", WS_OVERLAPPED, 0, 0, 10,
                                  10, nullptr, nullptr, nullptr, nullptr);
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, worker);
    ASSERT_NE(nullptr, thread);
    const DWORD start = GetTickCount();
    lib.unload();
    EXPECT_LT(GetTickCount() - start, 1000u);
    closeManager();
    MSG notice = {};
    EXPECT_TRUE(waitUntil([&] { return PeekMessageA(&notice, launcher, 1025, 1025, PM_REMOVE) != FALSE; }))
        << "the Launcher was not told";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000)) << "the worker stayed";
    EXPECT_TRUE(waitUntil([] { return GetModuleHandleA("dovrikna.dll") == nullptr; })) << "the library stayed mapped";
    CloseHandle(thread);
    DestroyWindow(launcher);
}

TEST_F(Scanning, FreedAfterAScanTheLibraryRunsItsUnloadSequence)
{
    setTransfers({done(0)});
    acquire();
    pressScan();
    EXPECT_EQ((Names{temp + "kel0.tif"}), collect());
    expectUnloadSequence(lib, worker, [] {});
}

// What docs/natives.md tells the Java side: an image poll before any request
// leaves IDLE, which the selection's poll reads as a source chosen; a scan
// whose source would not enable leaves the manager open, and a FreeLibrary
// then leaves the library loaded.
TEST_F(Scanning, APollBeforeAnyRequestAndAFailedScanDoWhatTheContractSays)
{
    EXPECT_EQ(kPending, queryImage());
    EXPECT_EQ(kIdle, querySelect());

    script->enableDs = dovrikna::TWRC_FAILURE;
    acquire();
    EXPECT_EQ(kFinished, pollImage());
    const Names opened{"OPENDSM", "GETDEFAULT", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS"};
    EXPECT_EQ(opened, calls());
    lib.unload();
    Sleep(300);
    EXPECT_NE(nullptr, GetModuleHandleA("dovrikna.dll"));
    EXPECT_EQ(opened, calls());
}

TEST_F(Scanning, FreedWithASourceOpenTheLibraryUnloadsWhenTheUserClosesIt)
{
    acquire();
    ASSERT_TRUE(waitUntil([&] { return dsm.sourceWindow() != nullptr; }));
    expectUnloadSequence(lib, worker, [&] {
        Sleep(100);
        EXPECT_NE(nullptr, GetModuleHandleA("dovrikna.dll")) << "unmapped with the source open";
        PostMessageA(dsm.sourceWindow(), kCloseButton, 0, 0);
    });
    EXPECT_EQ((Names{"OPENDSM", "GETDEFAULT", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS", "PROCESSEVENT", "DISABLEDS", "CLOSEDS",
                     "CLOSEDSM"}),
              calls());
}

} // namespace

TEST(ProcessEnd, EndsWithTheLibraryKeptMappedAndItsWorkerAlive)
{
    // The process's end kills the worker wherever it is, perhaps holding a
    // lock of the window manager; the library's detach then runs on the
    // ending thread. One end in about twenty hung, hence the many children.
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, path, MAX_PATH));
    const std::string command =
        std::string("\"") + path +
        "\" --gtest_filter=Scanning.UnloadWithASourceOpenLeavesItOpenWithoutWaitingForTheLoader";
    const int kChildren = 24;
    int hung = 0;
    for (int i = 0; i < kChildren; ++i) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &child))
            << GetLastError();
        DWORD exitCode = 0xDEADBEEF;
        if (WaitForSingleObject(child.hProcess, 20000) != WAIT_OBJECT_0) {
            ++hung;
            TerminateProcess(child.hProcess, 1);
        } else {
            GetExitCodeProcess(child.hProcess, &exitCode);
            EXPECT_EQ(0u, exitCode) << "child " << i;
        }
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    EXPECT_EQ(0, hung) << "of " << kChildren << " processes, these did not end";
}
