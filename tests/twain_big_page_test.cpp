// A 1200 dpi colour page (10200 x 13200, 404 MB) from the TWAIN Working
// Group's sample source behind its own manager, through the shipped 32-bit
// library, in a process whose largest free block is smaller than the page
// (its address space reserved first, as a Java VM reserves its heap): the
// page must come as a memory transfer, every row as the sample's own probe
// receives it, the working set never more than 64 MB above its level before
// the acquisition. The program runs from a folder of its own, where the real
// manager is TWAIN_32.DLL; skipped without the real partners beside the
// source tree.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "library_under_test.h"
#include "standins/fake_jvm.h"

namespace {

enum : jint { kPending = 0, kIdle = 1, kSignalled = 2, kFinished = 3 };

const LONG kWidth = 10200, kRows = 13200;
const ULONGLONG kPageBytes = 54 + ULONGLONG(kWidth) * 3 * kRows;

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\') + 1); }

std::string thisFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return folderOf(path);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The largest block a reservation gets now, to a megabyte. Only a
// reservation tells: Wine's VirtualQuery shows areas it keeps back as
// reserved, and still allocates in them.
SIZE_T largestReservable()
{
    SIZE_T low = 0, high = SIZE_T(1) << 31;
    while (high - low > (SIZE_T(1) << 20)) {
        const SIZE_T middle = (low + (high - low) / 2) & ~SIZE_T(0xFFFF);
        if (void* block = VirtualAlloc(nullptr, middle, MEM_RESERVE, PAGE_NOACCESS)) {
            VirtualFree(block, 0, MEM_RELEASE);
            low = middle;
        } else {
            high = middle;
        }
    }
    return low;
}

// Reserves the largest blocks, as a VM reserves its heap, until none left
// could hold the page. The reservations stay for the process's life.
SIZE_T reserveUntilThePageFitsNowhere()
{
    for (SIZE_T largest; (largest = largestReservable()) >= kPageBytes;)
        if (!VirtualAlloc(nullptr, largest, MEM_RESERVE, PAGE_NOACCESS)) break;
    return largestReservable();
}

// Runs a program in `folder` (which the loader searches first) and waits
// for it, 2 minutes at most.
DWORD runAndWait(std::string command, const std::string& folder)
{
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return GetLastError() | 0x80000000u;
    DWORD code = WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0 ? 0 : 0xDEADu;
    if (!code) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

// The manager's default source while the object lives (Wine's own sources
// come first in its folder otherwise); the value before is put back.
class DefaultSource {
public:
    explicit DefaultSource(const std::string& path)
    {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\TWAIN", 0, nullptr, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr) != ERROR_SUCCESS)
            return;
        DWORD size = sizeof before_;
        had_ = RegQueryValueExA(key_, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(before_), &size) ==
               ERROR_SUCCESS;
        set_ = RegSetValueExA(key_, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                              static_cast<DWORD>(path.size() + 1)) == ERROR_SUCCESS;
    }
    ~DefaultSource()
    {
        if (!key_) return;
        if (had_)
            RegSetValueExA(key_, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(before_),
                           static_cast<DWORD>(std::strlen(before_) + 1));
        else
            RegDeleteValueA(key_, kValue);
        RegCloseKey(key_);
    }
    bool set() const { return set_; }

private:
    static constexpr const char* kValue = "Default Source";
    HKEY key_ = nullptr;
    char before_[MAX_PATH] = {};
    bool had_ = false, set_ = false;
};

// A 24-bit BMP file's rows, read a few at a time.
struct BmpRows {
    explicit BmpRows(const std::string& path)
        : file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        unsigned char head[54];
        DWORD read = 0;
        if (file == INVALID_HANDLE_VALUE || !ReadFile(file, head, sizeof head, &read, nullptr) || read != 54) return;
        std::memcpy(&pixelsAt, head + 10, 4);
        std::memcpy(&width, head + 18, 4);
        std::memcpy(&height, head + 22, 4);
        std::memcpy(&bits, head + 28, 2);
        SetFilePointer(file, static_cast<LONG>(pixelsAt), nullptr, FILE_BEGIN);
    }
    ~BmpRows()
    {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    bool next(std::vector<unsigned char>& rows)
    {
        DWORD read = 0;
        return ReadFile(file, rows.data(), static_cast<DWORD>(rows.size()), &read, nullptr) && read == rows.size();
    }
    HANDLE file;
    DWORD pixelsAt = 0;
    LONG width = 0, height = 0;
    WORD bits = 0;
};

TEST(BigPage, ComesInMemoryStripsToAProcessWithoutRoomForItInOneBlock)
{
    std::string real = DOVRIKNA_TWAIN_REAL; // the real partners' folder as Wine names it, with slashes
    for (char& c : real)
        if (c == '/') c = '\\';
    if (!exists(real + "\\dsm\\x86\\TWAINDSM.dll"))
        GTEST_SKIP() << "no real TWAIN partners at " << real << " (../shared/twain-real beside the source tree)";
    const std::string here = thisFolder();
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string work = std::string(temp) + "dovrikna-big-page\\";
    CreateDirectoryA(work.c_str(), nullptr);

    // The real manager beside this program (TWAIN_32.DLL for the library,
    // TWAINDSM.DLL for the probe), the sample source where the manager looks.
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string sourceFolder = std::string(windows) + "\\twain_32\\sample2\\";
    CreateDirectoryA((std::string(windows) + "\\twain_32").c_str(), nullptr);
    CreateDirectoryA(sourceFolder.c_str(), nullptr);
    const std::string sample = real + "\\sample-ds\\x86\\sample2\\";
    for (const char* name : {"TWAINDS_Sample32.ds", "TWAIN_logo.bmp"})
        ASSERT_TRUE(exists(sourceFolder + name) || CopyFileA((sample + name).c_str(), (sourceFolder + name).c_str(), TRUE))
            << name;
    const std::string manager = real + "\\dsm\\x86\\TWAINDSM.dll";
    for (const char* name : {"TWAIN_32.DLL", "TWAINDSM.DLL"})
        ASSERT_TRUE(exists(here + name) || CopyFileA(manager.c_str(), (here + name).c_str(), TRUE)) << name;
    ASSERT_TRUE(exists(here + "probe32.exe") ||
                CopyFileA((real + "\\probe32.exe").c_str(), (here + "probe32.exe").c_str(), TRUE));

    DefaultSource sampleFirst(sourceFolder + "TWAINDS_Sample32.ds");
    ASSERT_TRUE(sampleFirst.set());

    // The knobs the source reads when it is opened: 1200 dpi, native or memory, one page, Scan pressed.
    SetEnvironmentVariableA("TWAINDS_SAMPLE_DPI", "1200");
    SetEnvironmentVariableA("TWAINDS_SAMPLE_MECHS", "native,memory");
    SetEnvironmentVariableA("TWAINDS_SAMPLE_PAGES", "1");
    SetEnvironmentVariableA("TWAINDS_SAMPLE_AUTOSCAN", "300");
    const std::string log = work + "conversation.log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("DOVRIKNA_LOG", log.c_str());

    // What the sample's probe receives of the same page in memory strips.
    const std::string expected = work + "page-1.bmp";
    std::string page;
    struct Remove { // 808 MB of pages are not left behind, whatever fails
        const std::string &expected, &page;
        ~Remove()
        {
            DeleteFileA(expected.c_str());
            if (!page.empty()) DeleteFileA(page.c_str());
        }
    } remove{expected, page};
    DeleteFileA(expected.c_str());
    ASSERT_EQ(0u, runAndWait("\"" + here + "probe32.exe\" --source \"TWAIN2 Software Scanner\" --mech memory "
                             "--dpi 1200 --pages 1 --out \"" + work.substr(0, work.size() - 1) + "\"",
                             here));

    const SIZE_T largest = reserveUntilThePageFitsNowhere();
    ASSERT_LT(largest, kPageBytes) << "the largest free block stayed larger than the page";

    LibraryUnderTest lib((here + "..\\dovrikna.dll").c_str());
    ASSERT_TRUE(lib.loaded()) << lib.missing;
    fakejvm::FakeJvm jvm;
    PROCESS_MEMORY_COUNTERS before = {sizeof before};
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));

    lib.com_quenlark_foto_TwainHandler_acquireImage0(jvm.env(), nullptr);
    auto poll = [&]() -> jint {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 100000; Sleep(5)) {
            const jint status = lib.com_quenlark_foto_TwainHandler_queryImageFile0(jvm.env(), nullptr);
            if (status != kPending && status != kIdle) return status;
        }
        return kPending;
    };
    ASSERT_EQ(kSignalled, poll());
    jstring path = lib.com_quenlark_foto_TwainHandler_getImageFile0(jvm.env(), nullptr, jvm.newIntArray({-7}));
    ASSERT_TRUE(path);
    page = jvm.bytesOf(path);
    EXPECT_EQ(kFinished, poll());
    PROCESS_MEMORY_COUNTERS after = {sizeof after};
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
    lib.unload();
    std::printf("working set %u MB before the acquisition, peak %u MB; largest free block %u MB\n",
                unsigned(before.WorkingSetSize >> 20), unsigned(after.PeakWorkingSetSize >> 20), unsigned(largest >> 20));
    EXPECT_LE(after.PeakWorkingSetSize, before.WorkingSetSize + (SIZE_T(64) << 20))
        << "peak " << (after.PeakWorkingSetSize >> 20) << " MB, " << (before.WorkingSetSize >> 20)
        << " MB before the acquisition, largest free block " << (largest >> 20) << " MB";

    std::ifstream logFile(log, std::ios::binary);
    const std::string conversation((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, conversation.find("IMAGEMEMXFER")) << conversation;
    EXPECT_EQ(std::string::npos, conversation.find("IMAGENATIVEXFER")) << conversation;

    {
        BmpRows got(page), want(expected);
        ASSERT_EQ(kWidth, want.width);
        ASSERT_EQ(kRows, want.height);
        ASSERT_EQ(24, want.bits);
        ASSERT_EQ(want.width, got.width);
        ASSERT_EQ(want.height, got.height) << "bottom-up, as the probe's";
        ASSERT_EQ(want.bits, got.bits);
        const size_t stride = (size_t(kWidth) * 3 + 3) / 4 * 4, band = 48; // 275 bands
        std::vector<unsigned char> gotRows(stride * band), wantRows(stride * band);
        for (LONG row = 0; row < kRows; row += band) {
            ASSERT_TRUE(got.next(gotRows) && want.next(wantRows)) << "rows from " << row << " from the bottom";
            for (size_t r = 0; r < band; ++r)
                ASSERT_EQ(0, std::memcmp(&gotRows[r * stride], &wantRows[r * stride], stride))
                    << "row " << row + r << " from the bottom";
        }
    }
    DeleteFileA(log.c_str());
}

} // namespace
