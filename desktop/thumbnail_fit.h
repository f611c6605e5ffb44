// Decisions of the video thumbnail natives that need no Windows header: the
// cache key, whether a grabbed frame is usable, how its rows lose their
// padding, whether it fits the caller's arrays, and how the ANSI code page
// for the path is found.
#ifndef DOVRIKNA_DESKTOP_THUMBNAIL_FIT_H
#define DOVRIKNA_DESKTOP_THUMBNAIL_FIT_H

#include <cstddef>
#include <cstdint>

namespace dovrikna {

// The size of the BITMAPINFOHEADER in front of a frame's pixel bytes.
constexpr std::size_t kFrameHeaderBytes = 40;

// The file behind a frame as one attribute query found it: its size in
// bytes and its last write time (100 ns ticks, as a FILETIME counts them).
struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t writeTime = 0;
};

// The path of the cached frame and the stamp its file had before the grab.
// A path of kMaxPath bytes or more is never stored: it cannot be a key, and
// every request for it grabs anew.
class ThumbnailKey {
public:
    static constexpr std::size_t kMaxPath = 260;

    // Exact, case-sensitive equality of the paths and equal stamps: a file
    // replaced or rewritten at the same path is another key. Nothing matches
    // while no key is held, the empty path included.
    bool matches(const char* path, const FileStamp& stamp) const;
    // Holds path and stamp as the key when the path fits, otherwise no key.
    void assign(const char* path, const FileStamp& stamp);
    void clear();
    bool held() const { return held_; }

private:
    char path_[kMaxPath] = {};
    FileStamp stamp_;
    bool held_ = false;
};

// Whether a frame buffer as the detector filled it can be read: the header
// fits in the buffer, width and height are not negative, and the rows they
// announce (3 bytes a pixel, each row padded to 4 bytes as a DIB's) lie
// inside the buffer.
bool frameIsReadable(std::size_t bufferBytes, std::int32_t width, std::int32_t height);

// The frame's pixel byte count without padding, width x height x 3; only for
// readable frames.
std::size_t framePixelBytes(std::int32_t width, std::int32_t height);

// Moves the rows of a readable frame (the pixel bytes behind its header,
// each row padded to 4 bytes) together, in place and in their order (bottom
// row first), so that the first framePixelBytes() bytes hold them back to
// back, width x 3 bytes each. Rows of a width that is a multiple of 4 have no
// padding and stay where they are.
void unpadFrameRows(unsigned char* pixels, std::int32_t width, std::int32_t height);

struct FitDecision {
    bool copy;           // copy framePixelBytes() bytes into the pixel array
    std::int32_t result; // 0 when copied, otherwise the frame's width
};

// The frame fits when its width and height are not greater than those the
// caller stated and its pixel bytes fit in the pixel array's real length.
FitDecision fitFrame(std::int32_t width, std::int32_t height, std::int32_t statedWidth,
                     std::int32_t statedHeight, std::size_t pixelArrayBytes);

// How the code page for the path's wide conversion is found, chosen once per
// process from the platform's version: the thread's ANSI code page
// (CP_THREAD_ACP) on NT 5 and later, the thread locale's ANSI code page read
// from its locale data on older systems, which lack CP_THREAD_ACP.
enum class CodePageMethod { ThreadAcp, ThreadLocale };
CodePageMethod chooseCodePageMethod(unsigned long platformId, unsigned long majorVersion);

// LOCALE_IDEFAULTANSICODEPAGE's text read as a decimal number, digit by
// digit; 0 for an empty or absent text (the caller then takes GetACP()).
unsigned parseAnsiCodePage(const char* text, std::size_t capacity);

} // namespace dovrikna

#endif
