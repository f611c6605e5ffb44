// getVideoThumbnail0 against our scripted media detector: the frame grab's
// calls, the fit and the copy, the one-entry cache, calls from other threads
// and at once, and every failure.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "thumbnail_test.h"

namespace {

const size_t kBig = 160 * 120 * 3; // frames whose freed buffer is not soon reused at its address
const std::vector<std::string> kJniCalls = {
    "GetArrayLength",          "GetArrayLength",          "GetStringUTFChars",     "GetIntArrayElements",
    "GetByteArrayElements",    "ReleaseByteArrayElements", "ReleaseIntArrayElements", "ReleaseStringUTFChars"};

// The rows arrive bottom row first, width x 3 bytes each, without the
// padding to 4 bytes that the detector's rows carry.
TEST_F(ThumbnailTest, AFittingFramesRowsAreCopiedWithoutTheirPadding)
{
    struct {
        LONG width, height, extra; // extra: the detector may ask for more than the frame takes
    } const frames[] = {{320, 240, 9}, {854, 6, 0}, {426, 5, 0}, {318, 4, 0}, {321, 3, 2}, {34, 7, 0}, {1, 1, 0}};
    for (const auto& f : frames) {
        SCOPED_TRACE(std::to_string(f.width) + " x " + std::to_string(f.height));
        standinReset();
        const int created = standinCreated();
        const std::string path = existing("rows-" + std::to_string(f.width) + ".avi");
        video(f.width, f.height, true);
        standinSetExtraBytes(f.extra);
        const size_t frame = size_t(f.width) * f.height * 3;
        jintArray size = jvm.newIntArray({f.width, f.height});
        jbyteArray pixels = jvm.newByteArray(junk(frame + 16));
        const std::vector<std::string> callsBefore = jvm.calls();

        EXPECT_EQ(0, thumbnail(path, size, pixels));

        EXPECT_EQ((std::vector<jint>{f.width, f.height}), jvm.ints(size));
        const std::vector<jbyte>& bytes = jvm.bytes(pixels);
        size_t first = 0;
        EXPECT_EQ(0u, wrongPixels(bytes, f.width, f.height, first))
            << "first wrong byte at " << first << ": " << int(static_cast<BYTE>(bytes[first]));
        EXPECT_EQ(junk(16), std::vector<jbyte>(bytes.begin() + frame, bytes.end())) << "written past the frame";
        EXPECT_EQ(grabCalls(path, 0, f.width, f.height), log());
        const std::vector<std::string> calls = jvm.calls();
        EXPECT_EQ(kJniCalls, std::vector<std::string>(calls.begin() + callsBefore.size(), calls.end()));
        EXPECT_EQ(created + 1, standinCreated());
        expectMediaTypesFreed();
        EXPECT_EQ(1, standinFormatBlockCount());
        EXPECT_TRUE(heapBlockInUse(standinLastFrameBuffer(), frameBytes(f.width, f.height, f.extra)))
            << "the cache keeps the frame buffer";
    }
}

TEST_F(ThumbnailTest, AFrameLargerThanStatedTellsItsSizeAndComesFromTheCacheNextTime)
{
    video(320, 240);
    jintArray size = jvm.newIntArray({400, 200}); // fits in width only
    jbyteArray pixels = jvm.newByteArray(junk(400 * 240 * 3));

    EXPECT_EQ(320, thumbnail(clip, size, pixels));
    EXPECT_EQ((std::vector<jint>{320, 240}), jvm.ints(size));
    EXPECT_EQ(junk(400 * 240 * 3), jvm.bytes(pixels)) << "nothing is copied when the frame does not fit";

    // The usual second call with the size learnt: one string comparison, one copy.
    const std::vector<std::string> first = log();
    jintArray size2 = jvm.newIntArray({320, 240});
    jbyteArray pixels2 = jvm.newByteArray(junk(320 * 240 * 3));
    EXPECT_EQ(0, thumbnail(clip, size2, pixels2));
    EXPECT_EQ((std::vector<jint>{320, 240}), jvm.ints(size2));
    EXPECT_EQ(standinPixel(320 * 240 * 3 - 1), static_cast<BYTE>(jvm.bytes(pixels2).back()));
    EXPECT_EQ(1, standinCreated()) << "a cache hit creates no detector";
    EXPECT_EQ(first, log());
}

TEST_F(ThumbnailTest, TheCacheKeyIsTheExactPath)
{
    video(8, 4);
    auto call = [&](const std::string& path) {
        return thumbnail(path, jvm.newIntArray({8, 4}), jvm.newByteArray(junk(8 * 4 * 3)));
    };
    const std::string path = existing("a.avi");
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(0, call(path));
    EXPECT_EQ(0, call(path));
    EXPECT_EQ(1, standinCreated());
    EXPECT_EQ(0, call(upper)) << "another case is another key, though it names the same file";
    EXPECT_EQ(2, standinCreated());
    EXPECT_EQ(0, call(path)) << "the one entry now holds the other spelling";
    EXPECT_EQ(3, standinCreated());
    EXPECT_EQ(0, call(path));
    EXPECT_EQ(3, standinCreated());
    expectMediaTypesFreed();
}

TEST_F(ThumbnailTest, TheEmptyPathWithAnEmptyCacheGoesToTheDetector)
{
    standinFail(kStepPutFilename, E_INVALIDARG);
    jintArray size = jvm.newIntArray({7, 7});
    jbyteArray pixels = jvm.newByteArray(junk(30));
    EXPECT_EQ(-1, thumbnail("", size, pixels));
    EXPECT_EQ((std::vector<std::string>{kEarlyGrab, "put_Filename(L\"\")", "destroyed"}), log());
    EXPECT_EQ((std::vector<jint>{7, 7}), jvm.ints(size));
    EXPECT_EQ(junk(30), jvm.bytes(pixels));
}

TEST_F(ThumbnailTest, AFailedRequestLeavesTheCachedFrameInPlace)
{
    video(4, 2);
    const std::string p = existing("P.avi");
    EXPECT_EQ(0, thumbnail(p, jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    const void* cached = standinLastFrameBuffer();

    standinFail(kStepPutFilename, E_FAIL);
    jintArray size = jvm.newIntArray({-3, -4});
    jbyteArray pixels = jvm.newByteArray(junk(24));
    EXPECT_EQ(-1, thumbnail(existing("Q.avi"), size, pixels));
    EXPECT_EQ((std::vector<jint>{-3, -4}), jvm.ints(size));
    EXPECT_EQ(junk(24), jvm.bytes(pixels));
    EXPECT_TRUE(heapBlockInUse(cached, frameBytes(4, 2)));

    jbyteArray again = jvm.newByteArray(junk(24));
    EXPECT_EQ(0, thumbnail(p, jvm.newIntArray({4, 2}), again));
    EXPECT_EQ(2, standinCreated()) << "P is served from the cache";
    EXPECT_EQ(standinPixel(0), static_cast<BYTE>(jvm.bytes(again)[0]));
}

TEST_F(ThumbnailTest, TheFirstVideoStreamIsTaken)
{
    audio();
    video(64, 48, true);
    video(32, 16);
    EXPECT_EQ(0, thumbnail(clip, jvm.newIntArray({64, 48}), jvm.newByteArray(junk(64 * 48 * 3))));
    EXPECT_EQ(grabCalls(clip, 1, 64, 48), log());
    expectMediaTypesFreed();
}

TEST_F(ThumbnailTest, ATopDownFormatIsAskedForAtItsPositiveHeight)
{
    video(64, -48);
    jintArray size = jvm.newIntArray({64, 48});
    EXPECT_EQ(0, thumbnail(clip, size, jvm.newByteArray(junk(64 * 48 * 3))));
    EXPECT_EQ(grabCalls(clip, 0, 64, 48), log());
    EXPECT_EQ((std::vector<jint>{64, 48}), jvm.ints(size));
}

TEST_F(ThumbnailTest, AStreamThatFailsToTellItsTypeIsNoVideoStream)
{
    video(8, 8);
    standinFail(kStepStreamType, E_FAIL);
    EXPECT_EQ(-1, thumbnail(clip, jvm.newIntArray({8, 8}), jvm.newByteArray(junk(192))));
    EXPECT_EQ((std::vector<std::string>{kEarlyGrab, "put_Filename(L\"" + clip + "\")", "get_OutputStreams",
                                        "put_CurrentStream(0)", "get_StreamType", "destroyed"}),
              log());
}

// Files the grab turns down: each leaves the arrays and the cache as they were.
TEST_F(ThumbnailTest, FilesWithoutAUsableVideoStreamGiveMinusOne)
{
    struct Case {
        const char* what;
        void (*script)();
        std::vector<std::string> tail; // the calls after put_Filename and get_OutputStreams
    };
    const Case cases[] = {
        {"no streams", [] {}, {}},
        {"audio only",
         [] {
             audio();
             audio();
         },
         {"put_CurrentStream(0)", "get_StreamType", "put_CurrentStream(1)", "get_StreamType"}},
        {"first video stream described otherwise, a later one by VideoInfo",
         [] {
             standinAddStream(&dovrikna::kMediaTypeVideo, &kFormatVideoInfo2, 8, 8, TRUE);
             video(8, 8);
         },
         {"put_CurrentStream(0)", "get_StreamType", "get_StreamMediaType"}},
        {"media type not told",
         [] {
             video(8, 8);
             standinFail(kStepStreamMediaType, E_FAIL);
         },
         {"put_CurrentStream(0)", "get_StreamType", "get_StreamMediaType"}},
        {"a VideoInfo format block shorter than a VIDEOINFOHEADER",
         [] {
             video(8, 8, true);
             standinSetFormatBytes(sizeof(VIDEOINFOHEADER) - 1);
         },
         {"put_CurrentStream(0)", "get_StreamType", "get_StreamMediaType"}},
        {"a negative stream count",
         [] {
             video(8, 8);
             standinSetStreamCount(-2);
         },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standinReset();
        c.script();
        jintArray size = jvm.newIntArray({8, 8});
        jbyteArray pixels = jvm.newByteArray(junk(192));
        EXPECT_EQ(-1, thumbnail(clip, size, pixels));
        std::vector<std::string> expected = {kEarlyGrab, "put_Filename(L\"" + clip + "\")", "get_OutputStreams"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        expected.push_back("destroyed");
        EXPECT_EQ(expected, log());
        EXPECT_EQ((std::vector<jint>{8, 8}), jvm.ints(size));
        EXPECT_EQ(junk(192), jvm.bytes(pixels));
        expectMediaTypesFreed();
    }
}

TEST_F(ThumbnailTest, EveryFailingDetectorStepGivesMinusOneAndFreesWhatItTook)
{
    struct Case {
        StandinStep step;
        size_t calls; // how many calls of a full grab happen, destroyed excluded
    };
    const Case cases[] = {
        {kStepPutFilename, 2}, {kStepOutputStreams, 3}, {kStepSizeQuery, 7}, {kStepFrame, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        standinReset();
        // A frame of P in the cache first: every failure must leave it there.
        const std::string cachedPath = existing("P" + std::to_string(c.step) + ".avi");
        video(160, 120, true);
        ASSERT_EQ(0, thumbnail(cachedPath, jvm.newIntArray({160, 120}), jvm.newByteArray(junk(kBig))));
        const void* cached = standinLastFrameBuffer();
        standinReset();
        video(160, 120, true);
        standinFail(c.step, E_FAIL);

        jintArray size = jvm.newIntArray({160, 120});
        jbyteArray pixels = jvm.newByteArray(junk(kBig));
        EXPECT_EQ(-1, thumbnail(clip, size, pixels));
        std::vector<std::string> expected = grabCalls(clip, 0, 160, 120);
        expected.resize(c.calls);
        expected.push_back("destroyed");
        EXPECT_EQ(expected, log());
        EXPECT_EQ((std::vector<jint>{160, 120}), jvm.ints(size));
        EXPECT_EQ(junk(kBig), jvm.bytes(pixels));
        expectMediaTypesFreed();
        if (c.step == kStepFrame)
            EXPECT_FALSE(heapBlockInUse(standinLastFrameBuffer(), frameBytes(160, 120))) << "frame buffer leaked";
        EXPECT_TRUE(heapBlockInUse(cached, frameBytes(160, 120)));

        const int created = standinCreated();
        EXPECT_EQ(0, thumbnail(cachedPath, jvm.newIntArray({160, 120}), jvm.newByteArray(junk(kBig))));
        EXPECT_EQ(created, standinCreated()) << "P still from the cache";
    }
}

TEST_F(ThumbnailTest, ASizeAnswerSmallerThanAHeaderIsAFailure)
{
    video(4, 2);
    standinSetExtraBytes(-(4 * 2 * 3) - 1); // 39 bytes
    jintArray size = jvm.newIntArray({4, 2});
    EXPECT_EQ(-1, thumbnail(clip, size, jvm.newByteArray(junk(24))));
    std::vector<std::string> expected = grabCalls(clip, 0, 4, 2);
    expected.erase(expected.end() - 2); // no frame call
    EXPECT_EQ(expected, log());
    EXPECT_EQ((std::vector<jint>{4, 2}), jvm.ints(size));
}

TEST_F(ThumbnailTest, AnExceptionInsideTheFrameCallGivesMinusOneAndFreesTheBuffer)
{
    for (DWORD code : {DWORD{0xE0000001u}, DWORD{EXCEPTION_ACCESS_VIOLATION}, DWORD{0xE06D7363u}}) {
        SCOPED_TRACE(code);
        standinReset();
        video(160, 120);
        standinRaiseInFrame(code);
        jintArray size = jvm.newIntArray({160, 120});
        jbyteArray pixels = jvm.newByteArray(junk(kBig));
        EXPECT_EQ(-1, thumbnail(clip, size, pixels));
        EXPECT_EQ(grabCalls(clip, 0, 160, 120), log());
        EXPECT_EQ((std::vector<jint>{160, 120}), jvm.ints(size));
        EXPECT_EQ(junk(kBig), jvm.bytes(pixels));
        EXPECT_FALSE(heapBlockInUse(standinLastFrameBuffer(), frameBytes(160, 120))) << "frame buffer leaked";
        expectMediaTypesFreed();
    }
    // The thread's handler chain is whole again: a later grab works, and an
    // exception of the test's own is still caught by the test's own handler.
    standinReset();
    video(160, 120);
    EXPECT_EQ(0, thumbnail(clip, jvm.newIntArray({160, 120}), jvm.newByteArray(junk(kBig))));
    bool caught = false;
    try {
        throw 7;
    } catch (int) {
        caught = true;
    }
    EXPECT_TRUE(caught);
}

TEST_F(ThumbnailTest, TheUnloadFreesTheCachedFrame)
{
    video(160, 120);
    EXPECT_EQ(0, thumbnail(clip, jvm.newIntArray({160, 120}), jvm.newByteArray(junk(kBig))));
    const void* cached = standinLastFrameBuffer();
    EXPECT_TRUE(heapBlockInUse(cached, frameBytes(160, 120)));
    lib.unload();
    EXPECT_FALSE(heapBlockInUse(cached, frameBytes(160, 120)));
}

// Sound behaviour where a caller's mistake would otherwise cost memory safety.

TEST_F(ThumbnailTest, APathOf260BytesOrMoreIsGrabbedEveryTime)
{
    video(4, 2);
    const std::string longPath = "C:\\" + std::string(300, 'v') + ".avi";
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(0, thumbnail(longPath, jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
        EXPECT_EQ(i, standinCreated());
    }
    const size_t prefix = existing("").size(); // the folder and "dovrikna-PID-"
    const std::string longest = existing(std::string(259 - prefix - 4, 'v') + ".avi"); // still a key
    ASSERT_EQ(259u, longest.size());
    EXPECT_EQ(0, thumbnail(longest, jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    EXPECT_EQ(0, thumbnail(longest, jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    EXPECT_EQ(3, standinCreated());
    // A long path's frame, held uncached, is never served for another path.
    EXPECT_EQ(0, thumbnail(longPath, jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    EXPECT_EQ(0, thumbnail(longPath.substr(0, 259), jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    EXPECT_EQ(5, standinCreated());
}

TEST_F(ThumbnailTest, ThePixelArraysRealLengthBoundsTheCopy)
{
    video(16, 8);
    jintArray size = jvm.newIntArray({16, 8});
    jbyteArray pixels = jvm.newByteArray(junk(16 * 8 * 3 - 1)); // the caller overstates its array
    EXPECT_EQ(16, thumbnail(clip, size, pixels));
    EXPECT_EQ((std::vector<jint>{16, 8}), jvm.ints(size));
    EXPECT_EQ(junk(16 * 8 * 3 - 1), jvm.bytes(pixels));
    EXPECT_TRUE(jvm.problems().empty());
}

TEST_F(ThumbnailTest, MissingArgumentsAndAShortSizeArrayTouchNothing)
{
    video(4, 2);
    jintArray size = jvm.newIntArray({4, 2});
    jbyteArray pixels = jvm.newByteArray(junk(24));
    auto native = lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0;
    EXPECT_EQ(-1, native(env(), nullptr, nullptr, size, pixels));
    EXPECT_EQ(-1, native(env(), nullptr, jvm.newString(clip), nullptr, pixels));
    EXPECT_EQ(-1, native(env(), nullptr, jvm.newString(clip), size, nullptr));
    EXPECT_TRUE(jvm.calls().empty()) << jvm.calls().front();

    jintArray shortSize = jvm.newIntArray({4});
    EXPECT_EQ(-1, thumbnail(clip, shortSize, pixels));
    EXPECT_EQ((std::vector<std::string>{"GetArrayLength"}), jvm.calls());
    EXPECT_EQ((std::vector<jint>{4}), jvm.ints(shortSize));
    EXPECT_EQ(junk(24), jvm.bytes(pixels));
    EXPECT_EQ(0, standinCreated());

    jvm.failStringGets(true);
    EXPECT_EQ(-1, thumbnail(clip, size, pixels));
    EXPECT_EQ(0, standinCreated());
    EXPECT_EQ((std::vector<jint>{4, 2}), jvm.ints(size));
}

TEST_F(ThumbnailTest, AFrameHeaderThatOverstatesItsBufferIsNotRead)
{
    struct {
        LONG width, height;
    } const headers[] = {{320, 120}, {160, 121}, {160, -120}, {-160, 120}};
    for (const auto& header : headers) {
        SCOPED_TRACE(std::to_string(header.width) + " x " + std::to_string(header.height));
        standinReset();
        video(160, 120);
        standinOverrideHeader(header.width, header.height);
        jintArray size = jvm.newIntArray({400, 400});
        jbyteArray pixels = jvm.newByteArray(junk(400 * 400 * 3));
        EXPECT_EQ(-1, thumbnail(clip, size, pixels));
        EXPECT_EQ((std::vector<jint>{400, 400}), jvm.ints(size));
        EXPECT_EQ(junk(400 * 400 * 3), jvm.bytes(pixels));
        EXPECT_FALSE(heapBlockInUse(standinLastFrameBuffer(), frameBytes(160, 120)));
    }
}

TEST_F(ThumbnailTest, AWideNameThatCannotBeAllocatedGivesMinusOne)
{
    video(4, 2);
    const std::string path = "C:\\" + std::string(197, 'n') + ".avi"; // 204 characters
    spy().failSizes(2 * path.size(), 2 * path.size() + 64);
    jintArray size = jvm.newIntArray({4, 2});
    jbyteArray pixels = jvm.newByteArray(junk(24));
    EXPECT_EQ(-1, thumbnail(path, size, pixels));
    EXPECT_GE(spy().failed(), 1) << "the BSTR was not allocated through the COM allocator";
    EXPECT_EQ((std::vector<std::string>{kEarlyGrab, "destroyed"}), log());
    EXPECT_EQ(1, standinCreated());
    EXPECT_EQ((std::vector<jint>{4, 2}), jvm.ints(size));
    EXPECT_EQ(kJniCalls, jvm.calls());

    spy().failSizes(1, 0);
    EXPECT_EQ(0, thumbnail(path, size, pixels));
}


// The cache keeps a frame for the path and its file as one attribute query
// saw it (size and last write time): a changed file is grabbed anew, a hit
// opens nothing (the file is held open without sharing), a gone file is no hit.
TEST_F(ThumbnailTest, TheCacheFollowsTheFile)
{
    video(4, 2);
    const std::string path = existing("follow.avi");
    const std::wstring file(files_.back());
    const HANDLE held = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    FILETIME written;
    ASSERT_TRUE(GetFileTime(held, nullptr, nullptr, &written));
    auto setWriteTime = [&](LONGLONG seconds) {
        ULARGE_INTEGER time = {{written.dwLowDateTime, written.dwHighDateTime}};
        time.QuadPart += seconds * 10000000;
        FILETIME later = {time.LowPart, time.HighPart};
        return SetFileTime(held, nullptr, nullptr, &later);
    };
    auto append = [&] { // the write time stays as the cache saw it
        FILETIME now;
        DWORD done = 0;
        return GetFileTime(held, nullptr, nullptr, &now) && SetFilePointer(held, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER
               && WriteFile(held, "x", 1, &done, nullptr) && SetFileTime(held, nullptr, nullptr, &now);
    };
    auto remove = [&] { return CloseHandle(held) && DeleteFileW(file.c_str()); };
    struct {
        const char* change;
        std::function<bool()> make;
        int grabs; // by this call and the one after it
    } const steps[] = {
        {"first call", [] { return true; }, 1},
        {"nothing changed", [] { return true; }, 0},
        {"a later write time", [&] { return setWriteTime(10); }, 1},
        {"an earlier write time", [&] { return setWriteTime(-10); }, 1},
        {"one byte more, the same write time", append, 1},
        {"deleted", remove, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.change);
        ASSERT_TRUE(step.make());
        const int created = standinCreated();
        for (int call = 0; call < 2; ++call) {
            jintArray size = jvm.newIntArray({4, 2});
            jbyteArray pixels = jvm.newByteArray(junk(24));
            EXPECT_EQ(0, thumbnail(path, size, pixels)); // the stand-in serves a gone file too
            EXPECT_EQ(standinPixel(23), static_cast<BYTE>(jvm.bytes(pixels)[23]));
        }
        EXPECT_EQ(created + step.grabs, standinCreated());
    }
}

// COM for the grab on any thread: a thread without an apartment gets one for
// the call only, one with an apartment keeps it as it was. After the call,
// a probe for the multithreaded apartment tells what the thread has.
TEST_F(ThumbnailTest, AnyThreadGetsTheFrameAndKeepsItsApartment)
{
    video(4, 2);
    struct {
        const char* thread;
        bool initialise;
        DWORD model;
        HRESULT probe; // CoInitializeEx(COINIT_MULTITHREADED) after the call
    } const cases[] = {
        {"no apartment", false, 0, S_OK},
        {"multithreaded", true, COINIT_MULTITHREADED, S_FALSE},
        {"single-threaded", true, COINIT_APARTMENTTHREADED, RPC_E_CHANGED_MODE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.thread);
        const std::string path = existing(std::string("thread-") + c.thread + ".avi");
        const int created = standinCreated();
        jintArray size = jvm.newIntArray({4, 2});
        jbyteArray pixels = jvm.newByteArray(junk(24));
        jint result = -7;
        HRESULT own = E_UNEXPECTED, probe = E_UNEXPECTED, afterwards = E_UNEXPECTED;
        std::thread([&] {
            if (c.initialise) own = CoInitializeEx(nullptr, c.model);
            result = thumbnail(path, size, pixels);
            probe = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(probe)) CoUninitialize();
            if (c.initialise && SUCCEEDED(own)) CoUninitialize();
            // Every use counted is ended now: nothing of the call's is left.
            afterwards = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            if (SUCCEEDED(afterwards)) CoUninitialize();
        }).join();
        if (c.initialise) EXPECT_EQ(S_OK, own);
        EXPECT_EQ(0, result);
        EXPECT_EQ(created + 1, standinCreated());
        EXPECT_EQ((std::vector<jint>{4, 2}), jvm.ints(size));
        EXPECT_EQ(c.probe, probe) << std::hex << probe;
        EXPECT_EQ(S_OK, afterwards) << std::hex << afterwards;
    }
}

// Threads at once (with COM of their own), each on a clip of its own size
// whose every pixel byte is the low byte of its width, and every other time
// on the next thread's clip: each call gets its own clip's frame, whole.
TEST_F(ThumbnailTest, OverlappingCallsEachGetTheirOwnClipsFrame)
{
    video(0, 0);
    standinSizesFromNames(TRUE);
    const LONG widths[] = {160, 96, 320, 56};
    std::vector<std::string> paths;
    for (LONG width : widths)
        paths.push_back(existing("overlap-" + std::to_string(width) + "x" + std::to_string(width / 2) + ".avi"));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < paths.size(); ++t)
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            const jint width = widths[t], height = width / 2;
            for (int round = 0; round < 300; ++round) {
                jintArray size = jvm.newIntArray({width, height});
                jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(size_t(width) * height * 3));
                const jint result = thumbnail(paths[(t + round % 2) % paths.size()], size, pixels);
                const jint expectedWidth = widths[(t + round % 2) % paths.size()];
                if (round % 2) { // another thread's clip: at most it tells its size
                    wrong += jvm.ints(size)[0] != expectedWidth;
                    continue;
                }
                std::vector<jbyte> expected(size_t(width) * height * 3, static_cast<jbyte>(width & 0xFF));
                wrong += result != 0 || jvm.ints(size) != std::vector<jint>{width, height}
                         || jvm.bytes(pixels) != expected;
            }
            CoUninitialize();
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, wrong.load()) << "calls that got another clip's frame, a torn one, or none";
    EXPECT_EQ(0, standinAlive());
}

} // namespace

namespace {

TEST_F(ThumbnailTest, MediaFoundationIsLeftAloneWhileTheDetectorGivesTheFrame)
{
    ASSERT_EQ(nullptr, GetModuleHandleA("mfplat.dll")) << "loaded before any grab";
    video(4, 2);
    EXPECT_EQ(0, thumbnail(clip, jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    EXPECT_EQ(nullptr, GetModuleHandleA("mfplat.dll"));

    // A size query that fails as Wine's does sends the path on to Media
    // Foundation, which finds no such file.
    standinReset();
    video(4, 2);
    standinFail(kStepSizeQuery, E_NOTIMPL);
    EXPECT_EQ(-1, thumbnail("C:\\videos\\missing.mp4", jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    EXPECT_NE(nullptr, GetModuleHandleA("mfplat.dll"));
}

// A file whose own grab answers E_NOTIMPL at any step after the early call
// goes on to Media Foundation, and that is all: the next file still goes to
// the detector and gets its frame.
TEST_F(ThumbnailTest, AFilesOwnNotImplementedLeavesTheDetectorToTheNextFile)
{
    for (StandinStep step : {kStepPutFilename, kStepOutputStreams, kStepStreamMediaType, kStepSizeQuery, kStepFrame}) {
        SCOPED_TRACE(::testing::Message() << "step " << step);
        standinReset();
        video(4, 2);
        standinFail(step, E_NOTIMPL);
        EXPECT_EQ(-1, thumbnail("C:\\videos\\missing.mp4", jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));

        standinReset();
        video(4, 2);
        const int created = standinCreated();
        const std::string path = existing("after-" + std::to_string(step) + ".avi");
        jbyteArray pixels = jvm.newByteArray(junk(24));
        EXPECT_EQ(0, thumbnail(path, jvm.newIntArray({4, 2}), pixels));
        EXPECT_EQ(created + 1, standinCreated());
        EXPECT_EQ(grabCalls(path, 0, 4, 2), log());
        EXPECT_EQ(standinPixel(23), static_cast<BYTE>(jvm.bytes(pixels)[23]));
    }
}

} // namespace

namespace {

// A new detector is asked for a frame before it has a file. Only E_NOTIMPL
// (Wine's answer to every such call) ends its part there, before the file is
// opened, and it is not made again; any other answer (a working detector has
// no file yet) leaves the grab as it was. E_NOTIMPL comes last for that reason.
TEST_F(ThumbnailTest, OnlyAnEarlyNotImplementedLeavesTheDetectorBeforeTheFile)
{
    for (HRESULT early : {E_POINTER, E_INVALIDARG, E_FAIL, E_NOTIMPL}) {
        SCOPED_TRACE(::testing::Message() << std::hex << early);
        standinReset();
        video(4, 2);
        standinFail(kStepUnopened, early);
        const std::string path = early == E_NOTIMPL ? "C:\\videos\\missing.mp4" : existing("early.avi");
        jbyteArray pixels = jvm.newByteArray(junk(24));
        EXPECT_EQ(early == E_NOTIMPL ? -1 : 0, thumbnail(path, jvm.newIntArray({4, 2}), pixels));
        const std::vector<std::string> skipped = {kEarlyGrab, "destroyed"};
        EXPECT_EQ(early == E_NOTIMPL ? skipped : grabCalls(path, 0, 4, 2), log());
        if (early != E_NOTIMPL) EXPECT_EQ(standinPixel(23), static_cast<BYTE>(jvm.bytes(pixels)[23]));
    }
    EXPECT_NE(nullptr, GetModuleHandleA("mfplat.dll")) << "the path went on to Media Foundation";
    const int created = standinCreated();
    EXPECT_EQ(-1, thumbnail("C:\\videos\\other.avi", jvm.newIntArray({4, 2}), jvm.newByteArray(junk(24))));
    EXPECT_EQ(created, standinCreated());
}

} // namespace
