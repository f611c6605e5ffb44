// Decisions of the video thumbnail natives that need no Windows header: the
// cache key, whether a grabbed frame is usable, whether it fits the caller's
// arrays, and how the ANSI code page for the path is found.
#ifndef DOVRIKNA_DESKTOP_THUMBNAIL_FIT_H
#define DOVRIKNA_DESKTOP_THUMBNAIL_FIT_H

#include <cstddef>
#include <cstdint>

namespace dovrikna {

// The size of the BITMAPINFOHEADER in front of a frame's pixel bytes.
constexpr std::size_t kFrameHeaderBytes = 40;

// The path of the cached frame. A path of kMaxPath bytes or more is never
// stored: it cannot be a key, and every request for it grabs anew.
class ThumbnailKey {
public:
    static constexpr std::size_t kMaxPath = 260;

    // Exact, case-sensitive equality; nothing matches while no key is held,
    // the empty path included.
    bool matches(const char* path) const;
    // Holds path as the key when it fits, otherwise holds no key.
    void assign(const char* path);
    void clear();
    bool held() const { return held_; }

private:
    char path_[kMaxPath] = {};
    bool held_ = false;
};

// Whether a frame buffer as the detector filled it can be read: the header
// fits in the buffer, width and height are not negative, and the pixel bytes
// they announce (3 per pixel) lie inside the buffer.
bool frameIsReadable(std::size_t bufferBytes, std::int32_t width, std::int32_t height);

// The frame's pixel byte count, width x height x 3; only for readable frames.
std::size_t framePixelBytes(std::int32_t width, std::int32_t height);

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
