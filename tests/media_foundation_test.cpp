// getVideoThumbnail0 under Wine, whose media detector grabs no frame: the
// frame comes from Media Foundation. Clips and ffmpeg's own decode of their
// first frame (bgr24, top-down) are made at build time.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "library_test.h"

namespace {

std::string besideProgram(const std::string& name)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string path = exe;
    return path.substr(0, path.rfind('\\') + 1) + name;
}

std::vector<unsigned char> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

class MediaFoundationTest : public LibraryTest {
protected:
    jint thumbnail(const std::string& path, jintArray size, jbyteArray pixels)
    {
        return lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, jvm.newString(path), size,
                                                                  pixels);
    }

    // A copy of the file in the temp folder, deleted by the test itself.
    static std::string temporaryCopy(const std::string& source, const std::string& name)
    {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        const std::string copy = std::string(folder) + name;
        return CopyFileA(source.c_str(), copy.c_str(), FALSE) ? copy : std::string();
    }
};

// The mean absolute difference per channel (B, G, R) between the bytes the
// caller got, read as the detector's layout (bottom-up rows padded to 4
// bytes, as many whole rows as width x height x 3 bytes hold), and a
// top-down bgr24 reference.
std::vector<double> meanDifference(const std::vector<jbyte>& got, const std::vector<unsigned char>& reference,
                                   int width, int height)
{
    const size_t rowBytes = (size_t(width) * 3 + 3) & ~size_t(3);
    const size_t rows = std::min<size_t>(height, size_t(width) * height * 3 / rowBytes);
    std::vector<double> sum(3, 0.0);
    for (size_t row = 0; row < rows; ++row)
        for (size_t x = 0; x < size_t(width) * 3; ++x) {
            const int ours = static_cast<unsigned char>(got[row * rowBytes + x]);
            const int theirs = reference[(height - 1 - row) * size_t(width) * 3 + x];
            sum[x % 3] += std::abs(ours - theirs);
        }
    for (double& channel : sum) channel /= double(rows * width);
    return sum;
}

TEST_F(MediaFoundationTest, EachClipsFirstFrameMatchesFfmpegsAndComesFromTheCacheTheSecondTime)
{
    struct Clip {
        const char* file;
        int width, height;
    } const clips[] = {{"h264.mp4", 318, 240},     {"mjpeg.avi", 240, 180},     {"clip.avi", 320, 240},
                       {"mpeg2.mpg", 320, 240},    {"wmv8.wmv", 320, 240},      {"turned90.mp4", 272, 480},
                       {"turned270.mp4", 318, 240}, {"turned180.mp4", 480, 272}}; // turned: as shown
    for (const Clip& clip : clips) {
        SCOPED_TRACE(clip.file);
        const std::vector<unsigned char> reference = readFile(besideProgram(clip.file) + ".bgr");
        ASSERT_EQ(size_t(clip.width) * clip.height * 3, reference.size()) << "ffmpeg's decode of " << clip.file;
        const std::string copy = temporaryCopy(besideProgram(clip.file), std::string("dovrikna-") + clip.file);
        ASSERT_FALSE(copy.empty()) << "could not copy " << clip.file;

        const size_t frame = size_t(clip.width) * clip.height * 3;
        const std::vector<jbyte> junk(frame + 16, 0x5A);
        jintArray size = jvm.newIntArray({clip.width, clip.height});
        jbyteArray pixels = jvm.newByteArray(junk);
        EXPECT_EQ(0, thumbnail(copy, size, pixels));
        EXPECT_EQ((std::vector<jint>{clip.width, clip.height}), jvm.ints(size));
        const std::vector<jbyte>& got = jvm.bytes(pixels);
        const std::vector<double> difference = meanDifference(got, reference, clip.width, clip.height);
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_LE(difference[channel], 3.0) << "channel " << "BGR"[channel];
        EXPECT_EQ(std::vector<jbyte>(16, 0x5A), std::vector<jbyte>(got.begin() + frame, got.end()))
            << "written past the frame";

        // The file gone, the same path is served from the cache alone.
        ASSERT_TRUE(DeleteFileA(copy.c_str()));
        jbyteArray again = jvm.newByteArray(junk);
        EXPECT_EQ(0, thumbnail(copy, jvm.newIntArray({clip.width, clip.height}), again));
        EXPECT_EQ(got, jvm.bytes(again));
    }
}

TEST_F(MediaFoundationTest, ATextFileNamedMp4GivesMinusOneAndTouchesNothing)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "dovrikna-not-a-video.mp4";
    std::ofstream(path) << "Not a video, whatever its name says.\n";
    jintArray size = jvm.newIntArray({320, 240});
    jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(64, 0x5A));
    EXPECT_EQ(-1, thumbnail(path, size, pixels));
    DeleteFileA(path.c_str());
    EXPECT_EQ((std::vector<jint>{320, 240}), jvm.ints(size));
    EXPECT_EQ(std::vector<jbyte>(64, 0x5A), jvm.bytes(pixels));
}

} // namespace

namespace {

TEST_F(MediaFoundationTest, TheUnloadEndsMediaFoundation)
{
    jbyteArray pixels = jvm.newByteArray(std::vector<jbyte>(320 * 240 * 3, 0x5A));
    ASSERT_EQ(0, thumbnail(besideProgram("clip.avi"), jvm.newIntArray({320, 240}), pixels));
    ASSERT_NE(nullptr, GetModuleHandleA("mfreadwrite.dll"));
    lib.unload(); // MFShutdown inside the unload, under the loader lock: must not hang
    EXPECT_EQ(nullptr, GetModuleHandleA("mfreadwrite.dll"));
}

} // namespace
