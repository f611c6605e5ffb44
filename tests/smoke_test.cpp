// Basic calls of every native, run against both the x86 and the x64 library.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "acquisition_support.h"
#include "library_test.h"
#include "message_box_watcher.h"

namespace {

using SmokeTest = LibraryTest;

TEST_F(SmokeTest, EveryNativeIsExportedUnderTheNameAJavaVmLooksFor)
{
    // SetUp has resolved all thirteen and called JNI_OnLoad, as a Java VM
    // does; nothing else is exported.
    auto* base = reinterpret_cast<BYTE*>(lib.module());
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    EXPECT_EQ(14u, exports->NumberOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const char* name = reinterpret_cast<const char*>(base + names[i]);
        EXPECT_TRUE(std::strstr(name, "Java_com_quenlark_") || std::strstr(name, "JNI_OnLoad")) << name;
    }
}

TEST_F(SmokeTest, ImportsOnlyWindowsSystemLibraries)
{
    // A Java VM's process has no compiler runtime DLLs, and the scanner and
    // mail libraries may be missing altogether: those are loaded at run time.
    const char* const allowed[] = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
                                   "oleaut32.dll", "advapi32.dll", "msvcrt.dll"};
    auto* base = reinterpret_cast<BYTE*>(lib.module());
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    int count = 0;
    for (; import->Name; ++import, ++count) {
        const char* name = reinterpret_cast<const char*>(base + import->Name);
        bool known = false;
        for (const char* system : allowed) known = known || lstrcmpiA(name, system) == 0;
        EXPECT_TRUE(known) << "imports " << name;
    }
    EXPECT_GT(count, 0);
}

TEST_F(SmokeTest, FileSystemNativesAnswer)
{
    EXPECT_EQ(2, lib.com_quenlark_util_FileSystem_getDriveType0(env(), nullptr, jvm.newString("C:\\")));

    jlongArray pair = jvm.newLongArray({-1, -1});
    EXPECT_EQ(JNI_TRUE, lib.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, jvm.newString("C:\\"), pair));
    EXPECT_LE(jvm.longs(pair)[0], jvm.longs(pair)[1]);
    EXPECT_GT(jvm.longs(pair)[0], 0);

    jstring documents = lib.com_quenlark_util_FileSystem_getMyDocumentFolder0(env(), nullptr);
    ASSERT_NE(nullptr, documents);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(jvm.bytesOf(documents).c_str()));

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string from = std::string(temp) + "dovrikna-smoke-a", to = std::string(temp) + "dovrikna-smoke-b";
    CloseHandle(CreateFileA(from.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DeleteFileA(to.c_str());
    EXPECT_EQ(JNI_TRUE, lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(from), jvm.newString(to)));
    EXPECT_EQ(JNI_FALSE, lib.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm.newString(from), jvm.newString(to)));
    DeleteFileA(to.c_str());
}

TEST_F(SmokeTest, ScanStatusIsPendingBeforeAnyRequest)
{
    EXPECT_EQ(0, lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr));
    EXPECT_EQ(0, lib.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr));
}

TEST_F(SmokeTest, ScanNativesAnswer)
{
    // No acquisition yet: no reader, so no path and the flag untouched.
    jintArray flags = jvm.newIntArray({-7});
    EXPECT_EQ(nullptr, lib.com_quenlark_foto_TwainHandler_getImageFile0(env(), nullptr, flags));
    EXPECT_EQ(std::vector<jint>{-7}, jvm.ints(flags));

    // A selection runs on the worker; this prefix has no data source manager
    // for the library (WINEDLLOVERRIDES), so no source is chosen.
    {
        acquisition::BoxCloser boxes;
        lib.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr);
        EXPECT_TRUE(acquisition::waitUntil(
            [&] { return lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr) != 0; }, 10000));
        EXPECT_EQ(2, lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr));
    }

    // The Java side's reader takes a path that a writer put into the block.
    lib.com_quenlark_foto_TwainHandler_acquireImage0(env(), nullptr);
    EXPECT_EQ(0, lib.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr));
    EXPECT_EQ(1, lib.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr));
    acquisition::BlockWriter writer;
    ASSERT_TRUE(writer.open());
    const std::string path = acquisition::tempPath() + "dovrikna-smoke.bmp";
    writer.write(path);
    jstring taken = lib.com_quenlark_foto_TwainHandler_getImageFile0(env(), nullptr, flags);
    ASSERT_NE(nullptr, taken);
    EXPECT_EQ(path, jvm.bytesOf(taken));
    EXPECT_EQ(std::vector<jint>{1}, jvm.ints(flags));
}

TEST_F(SmokeTest, VideoThumbnailOfAMissingFileIsMinusOneWithTheArraysUntouched)
{
    jintArray size = jvm.newIntArray({64, 48});
    jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(64 * 48 * 3, 0x5A));
    EXPECT_EQ(-1, lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(
                      env(), nullptr, jvm.newString("C:\\dovrikna-no-such-video.avi"), size, pixels));
    EXPECT_EQ((std::vector<jint>{64, 48}), jvm.ints(size));
    EXPECT_EQ(std::vector<jbyte>(64 * 48 * 3, 0x5A), jvm.bytes(pixels));
}

TEST_F(SmokeTest, DesktopNativesAnswer)
{
    EXPECT_EQ(static_cast<jint>(reinterpret_cast<LONG_PTR>(GetForegroundWindow())),
              lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, 0));
    HWND window = CreateWindowA("STATIC", "smoke", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    jint handle = static_cast<jint>(reinterpret_cast<LONG_PTR>(window));
    EXPECT_NE(0, lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, handle));
    DestroyWindow(window);
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(env(), nullptr, handle));

    // A file no application is associated with: the thread starts and the
    // shell finds nothing to open it with.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(JNI_TRUE, lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(
                            env(), nullptr, jvm.newString(std::string(temp) + "dovrikna-smoke.no-such-kind")));
    EXPECT_EQ(JNI_FALSE, lib.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, nullptr));

    // mapi32 is switched off for this suite (WINEDLLOVERRIDES): nothing is
    // mailed, and the user is told so in one box.
    MessageBoxWatcher watcher;
    EXPECT_EQ(0, lib.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, ';', jvm.newString("C:\\x.jpg"),
                                                             jvm.newString("a;b")));
    watcher.stop();
    const std::vector<MessageBoxWatcher::Box> boxes = watcher.boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Mail Error", boxes[0].caption) << boxes[0].text;
    EXPECT_EQ(nullptr, GetModuleHandleA("mapi32.dll"));
}

} // namespace
