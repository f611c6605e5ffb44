// The fixture of the video thumbnail tests: the library loaded, our scripted
// media detector serving CLSID_MediaDet, a spy on the COM allocator, and
// files for the paths whose frames the cache is to keep.
#ifndef DOVRIKNA_TESTS_THUMBNAIL_TEST_H
#define DOVRIKNA_TESTS_THUMBNAIL_TEST_H

#include <windows.h>

#include <string>
#include <vector>

#include "desktop/media_detector.h"
#include "library_test.h"
#include "malloc_recorder.h"
#include "media_det_registration.h"
#include "standins/media_detector_standin.h"

// The call that asks a new detector, before it has a file, whether it grabs frames at all.
const std::string kEarlyGrab = "GetBitmapBits(0, null, null, 0, 0)";

// {73647561-0000-0010-8000-00AA00389B71}, the major type 'auds'
constexpr GUID kMediaTypeAudio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// {05589F81-C356-11CE-BF01-00AA0055595A}
constexpr GUID kFormatWaveFormatEx = {0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
// {F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}
constexpr GUID kFormatVideoInfo2 = {0xf72a76a0, 0xeb0a, 0x11d0, {0xac, 0xe4, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};

class ThumbnailTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        standinReset();
        ASSERT_TRUE(spy().start()) << "CoRegisterMallocSpy failed";
        const std::wstring server = MediaDetRegistration::moduleFile(GetModuleHandleA("media_detector_standin.dll"));
        ASSERT_TRUE(MediaDetRegistration::install(server)) << "could not register the stand-in detector";
        installed_ = true;
        clip = existing("clip.avi");
    }
    void TearDown() override
    {
        if (installed_) MediaDetRegistration::restore();
        for (const std::wstring& file : files_) DeleteFileW(file.c_str());
    }

    // The test program's folder, with its final backslash.
    static std::wstring folder()
    {
        wchar_t exe[MAX_PATH];
        const std::wstring path(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
        return path.substr(0, path.rfind(L'\\') + 1);
    }

    // An empty file named "dovrikna-PID-" and this (UTF-8) name beside the
    // test program, removed after the test; its path, as UTF-8. The cache
    // keeps frames of existing files only.
    std::string existing(const std::string& name)
    {
        wchar_t wideName[MAX_PATH] = {};
        MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wideName, MAX_PATH);
        const std::wstring path =
            folder() + L"dovrikna-" + std::to_wstring(GetCurrentProcessId()) + L"-" + wideName;
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file) << name << ": error " << GetLastError();
        CloseHandle(file);
        files_.push_back(path);
        char utf8[4 * MAX_PATH] = {};
        WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
        return utf8;
    }

    static MallocRecorder& spy()
    {
        static MallocRecorder recorder;
        return recorder;
    }

    jint thumbnail(const std::string& path, jintArray size, jbyteArray pixels)
    {
        return lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, jvm.newString(path), size,
                                                                  pixels);
    }

    static void video(LONG width, LONG height, bool withUnknown = false)
    {
        standinAddStream(&dovrikna::kMediaTypeVideo, &dovrikna::kFormatVideoInfo, width, height, withUnknown);
    }
    static void audio() { standinAddStream(&kMediaTypeAudio, &kFormatWaveFormatEx, 0, 0, TRUE); }

    static std::vector<std::string> log()
    {
        std::vector<std::string> lines;
        for (int i = 0; i < standinLogCount(); ++i) lines.push_back(standinLogLine(i));
        return lines;
    }

    // The calls of a grab whose video stream is stream number `video`.
    static std::vector<std::string> grabCalls(const std::string& name, int video, int width, int height)
    {
        std::vector<std::string> lines = {kEarlyGrab, "put_Filename(L\"" + name + "\")", "get_OutputStreams"};
        for (int i = 0; i <= video; ++i) {
            lines.push_back("put_CurrentStream(" + std::to_string(i) + ")");
            lines.push_back("get_StreamType");
        }
        const std::string size = std::to_string(width) + ", " + std::to_string(height) + ")";
        lines.push_back("get_StreamMediaType");
        lines.push_back("GetBitmapBits(0, size, null, " + size);
        lines.push_back("GetBitmapBits(0, null, buffer, " + size);
        lines.push_back("destroyed");
        return lines;
    }

    // Whether a block of the process heap of at least this size is in use at
    // this address (a freed block's address may soon start a smaller one).
    static bool heapBlockInUse(const void* block, size_t bytes)
    {
        HANDLE heap = GetProcessHeap();
        HeapLock(heap);
        PROCESS_HEAP_ENTRY entry;
        ZeroMemory(&entry, sizeof entry);
        bool found = false;
        while (!found && HeapWalk(heap, &entry))
            found = entry.lpData == block && (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.cbData >= bytes;
        HeapUnlock(heap);
        return found;
    }

    // Every format block and pUnk the detector handed out was given back.
    static void expectMediaTypesFreed()
    {
        for (int i = 0; i < standinFormatBlockCount(); ++i)
            EXPECT_TRUE(spy().freed(standinFormatBlock(i))) << "format block " << i << " not freed";
        EXPECT_EQ(0, standinUnknownsAlive()) << "media type pUnk not released";
        EXPECT_EQ(0, standinAlive()) << "detector not released";
    }

    // The frame buffer of a grab at this size: the header and rows of 3 bytes
    // a pixel, each padded to 4 bytes.
    static size_t frameBytes(size_t width, size_t height, size_t extra = 0)
    {
        return 40 + (width * 3 + 3) / 4 * 4 * height + extra;
    }

    // How many of the first width x height x 3 bytes differ from the stand-in's
    // pixels laid out without padding; the first such index in `first`.
    static size_t wrongPixels(const std::vector<jbyte>& bytes, size_t width, size_t height, size_t& first)
    {
        size_t wrong = 0;
        for (size_t i = 0; i < width * height * 3; ++i)
            if (static_cast<BYTE>(bytes[i]) != standinPixel(i) && wrong++ == 0) first = i;
        return wrong;
    }

    static std::vector<jbyte> junk(size_t bytes) { return std::vector<jbyte>(bytes, 0x5A); }

    bool installed_ = false;
    std::vector<std::wstring> files_;
    std::string clip; // an existing file

};

#endif
