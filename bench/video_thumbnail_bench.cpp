// Times getVideoThumbnail0 as Java calls it, under Wine or Windows:
//   video_thumbnail_bench CLIP...
// For each clip in turn: the first grab (the first one of the process pays
// for loading the media code), then the median of repeated calls for the same
// path (cache hits), and after the first pass the median of grabs anew with
// everything loaded (the clips alternate, so every call misses the cache).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "library_under_test.h"
#include "standins/fake_jvm.h"

namespace {

constexpr int kRepeats = 21;
constexpr jint kSide = 1024; // the size a first call states: every clip fits

double now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(counter.QuadPart) / double(frequency.QuadPart);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    fakejvm::FakeJvm jvm;
    LibraryUnderTest lib;
    if (!lib.loaded()) {
        std::fprintf(stderr, "dovrikna.dll not loaded\n");
        return 1;
    }
    // One call as Java makes it, with arrays for a frame of this size (the
    // stand-in JVM copies them in and out, as a JVM may); its time in ms, or
    // -1 when no frame came.
    jint width = kSide, height = kSide;
    auto call = [&](const std::string& path) {
        jintArray size = jvm.newIntArray({width, height});
        jbyteArray bytes = jvm.newByteArray(std::vector<jbyte>(size_t(width) * height * 3));
        const double start = now();
        const jint result = lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(jvm.env(), nullptr,
                                                                               jvm.newString(path), size, bytes);
        const double took = now() - start;
        width = jvm.ints(size)[0];
        height = jvm.ints(size)[1];
        return result == 0 ? took : -1.0;
    };

    std::vector<std::string> clips(argv + 1, argv + argc);
    for (const std::string& clip : clips) {
        width = height = kSide;
        const double first = call(clip); // learns the frame's size for the calls after it
        std::vector<double> hits;
        for (int i = 0; i < kRepeats; ++i) hits.push_back(call(clip));
        std::printf("%-12s first %8.1f ms   cache hit (median of %d) %7.3f ms\n", clip.c_str(), first, kRepeats,
                    median(hits));
    }
    if (clips.size() < 2) return 0;
    for (const std::string& clip : clips) {
        std::vector<double> grabs;
        for (int i = 0; i < 5; ++i) {
            width = height = kSide;
            grabs.push_back(call(clip));
            width = height = kSide;
            call(clip == clips[0] ? clips[1] : clips[0]); // the next call for clip misses the cache
        }
        std::printf("%-12s grab anew, media code loaded (median of 5) %7.1f ms\n", clip.c_str(), median(grabs));
    }
    return 0;
}
