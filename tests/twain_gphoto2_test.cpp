// Scanning from a real, third-party TWAIN source: Wine's own gphoto2.ds
// (through Wine's own manager), driving libgphoto2's directory camera on a
// folder of JPEG photos that ffmpeg made at build time. The source has no file
// transfer; it lists memory transfer as its mechanism, so its pages come in
// strips (natively it hands over bitmap handles).
//
// libgphoto2 sees the folder only as a mount point: build/win32/wine-run-camera
// bind-mounts it onto itself in a private mount namespace and tells the test
// through DOVRIKNA_CAMERA whether that worked. The no-camera case is built
// separately (DOVRIKNA_NO_CAMERA) and runs without the mount.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "scanning_fixture.h"

namespace {

using namespace scanning;
using Paths = std::vector<std::string>;

const int kPhotos = 4;
const int kWidth = 160;
const int kHeight = 120;

// The folder of the test programs' build, as Wine names it.
std::string buildFolder()
{
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string path(program);
    path.resize(path.rfind('\\'));
    return path.substr(0, path.rfind('\\') + 1);
}

std::string contentsOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// gphoto2.ds shows its "Files on Camera" dialog unless SkipUI is set.
void setSkipUi(bool skip)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Gphoto2", 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &key, nullptr));
    if (skip) {
        DWORD one = 1;
        RegSetValueExA(key, "SkipUI", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    } else {
        RegDeleteValueA(key, "SkipUI");
    }
    RegCloseKey(key);
}

// The dialog the source shows inside MSG_ENABLEDS: a top-level dialog with
// the source's buttons "Import All" (1002) and "Exit" (1003).
const int kImportAll = 1002;
const int kExit = 1003;

HWND findFilesDialog()
{
    HWND dialog = nullptr;
    while ((dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr)) != nullptr)
        if (GetDlgItem(dialog, kImportAll) && GetDlgItem(dialog, kExit)) return dialog;
    return nullptr;
}

// The conversation log, named before the library loads (a base class is made
// before the fixture's members, the library among them).
struct ConversationLog {
    ConversationLog() : path(twaintest::programFolder() + "gphoto2-" + std::to_string(GetCurrentProcessId()) + ".log")
    {
        DeleteFileA(path.c_str());
        SetEnvironmentVariableA("DOVRIKNA_LOG", path.c_str());
    }
    ~ConversationLog()
    {
        SetEnvironmentVariableA("DOVRIKNA_LOG", nullptr);
        DeleteFileA(path.c_str());
    }
    // The text of the last line that holds `what`, from `what` on.
    std::string lastLineWith(const std::string& what) const
    {
        std::ifstream in(path, std::ios::binary);
        std::string last;
        for (std::string line; std::getline(in, line);)
            if (line.find(what) != std::string::npos) last = line.substr(line.find(what));
        return last;
    }
    std::string path;
};

class Gphoto2Source : protected ConversationLog, public JavaSide {
protected:
    void SetUp() override
    {
#ifndef DOVRIKNA_NO_CAMERA
        const char* camera = std::getenv("DOVRIKNA_CAMERA");
        if (!camera || std::string(camera) != "mounted")
            GTEST_SKIP() << "the camera folder is not mounted ("
                         << (camera ? camera : "not run through wine-run-camera")
                         << "): libgphoto2 lists only mount points, and mounting it in a private "
                            "namespace (unshare -m, mount --bind) needs root";
#endif
        JavaSide::SetUp();
    }

    void TearDown() override
    {
        if (clicker.joinable()) clicker.join();
    }

    // The user presses a button of the dialog once it shows.
    void clickWhenShown(int button)
    {
        clicker = std::thread([this, button] {
            HWND dialog = nullptr;
            dialogSeen = waitUntil([&] { return (dialog = findFilesDialog()) != nullptr; }, 30000);
            if (dialogSeen)
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
        });
    }

    // Each file is a bottom-up 24-bit BMP whose pixels are ffmpeg's own
    // decode of its photo, within 3 per channel (two JPEG decoders).
    void expectPhotos(const Paths& paths)
    {
        ASSERT_EQ(size_t(kPhotos), paths.size());
        const size_t stride = (kWidth * 3 + 3) / 4 * 4;
        for (int photo = 0; photo < kPhotos; ++photo) {
            SCOPED_TRACE(paths[photo]);
            EXPECT_EQ(temp + "kel" + std::to_string(photo) + ".bmp", paths[photo]);
            const std::string bmp = contentsOf(paths[photo]);
            const std::string expected =
                contentsOf(buildFolder() + "camera-decoded\\photo" + std::to_string(photo + 1) + ".bgr");
            ASSERT_EQ(size_t(kWidth * kHeight * 3), expected.size()) << "ffmpeg's decode";
            ASSERT_EQ(54 + stride * kHeight, bmp.size());
            ASSERT_EQ("BM", bmp.substr(0, 2));
            int worst = 0;
            for (int row = 0; row < kHeight; ++row)
                for (int i = 0; i < kWidth * 3; ++i) {
                    int got = static_cast<unsigned char>(bmp[54 + (kHeight - 1 - row) * stride + i]);
                    int want = static_cast<unsigned char>(expected[row * kWidth * 3 + i]);
                    worst = std::max(worst, std::abs(got - want));
                }
            EXPECT_LE(worst, 3) << "largest difference from ffmpeg's decode";
        }
    }

    std::thread clicker;
    std::atomic<bool> dialogSeen{false};
};

#ifndef DOVRIKNA_NO_CAMERA

TEST_F(Gphoto2Source, FourPhotosWithoutTheDialogArriveAsBmpFilesOfTheirPixels)
{
    setSkipUi(true);
    DWORD start = GetTickCount();
    acquire();
    Paths paths = collect();
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(kIdle, queryImage()) << "STATUS_FINISHED was taken";
    expectPhotos(paths);
    // The source asks for no more by refusing DAT_IMAGEINFO after the last.
    EXPECT_EQ("report ACQUIRE_DONE, status 3\r", lastLineWith("report ")) << path;
    std::printf("acquisition of %d photos to the last report: %lu ms\n", kPhotos, elapsed);
}

TEST_F(Gphoto2Source, ImportAllInTheSourcesDialog)
{
    setSkipUi(false);
    clickWhenShown(kImportAll);
    acquire();
    Paths paths = collect();
    clicker.join();
    EXPECT_TRUE(dialogSeen) << "the source's \"Files on Camera\" dialog";
    expectPhotos(paths);
}

TEST_F(Gphoto2Source, ExitInTheSourcesDialogCancelsAndTheNextAcquisitionDelivers)
{
    setSkipUi(false);
    clickWhenShown(kExit);
    acquire();
    EXPECT_EQ(kFinished, pollImage());
    clicker.join();
    EXPECT_TRUE(dialogSeen) << "the source's \"Files on Camera\" dialog";
    EXPECT_EQ("(null)", getImageFile()) << "nothing was handed over";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + "kel*").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "no page was transferred";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    // Wine's manager keeps a closed source's module loaded; a source left
    // open or enabled would refuse the next acquisition, which must deliver.
    setSkipUi(true);
    acquire();
    expectPhotos(collect());
}

#else

TEST_F(Gphoto2Source, NoCameraVisibleReportsTheFailure)
{
    setSkipUi(true);
    DWORD start = GetTickCount();
    acquire();
    EXPECT_EQ(kFinished, pollImage());
    std::printf("no camera: failure reported after %lu ms\n", GetTickCount() - start);
}

#endif

} // namespace
