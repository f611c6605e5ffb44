// How an RGB video frame that Media Foundation delivers becomes a frame in
// the media detector's layout: a 40-byte BITMAPINFOHEADER with a positive
// height, then 24-bit BGR rows, bottom row first, each padded to 4 bytes as
// a DIB's. No Windows header: the rules build natively under the sanitizers.
//
// Source formats handled: RGB24 (B, G, R bytes) and RGB32 (B, G, R, X; the
// fourth byte is dropped), top-down or bottom-up, at any stride that holds
// a row. No YUV conversion happens here: the platform converts to RGB.
#ifndef DOVRIKNA_DESKTOP_DIB_FRAME_H
#define DOVRIKNA_DESKTOP_DIB_FRAME_H

#include <cstddef>
#include <cstdint>

namespace dovrikna {

// The largest width or height taken from a video; a larger frame is a failed grab.
constexpr std::int32_t kMaxFrameSide = 16384;

// The bytes of one 24-bit row of this width, padded to 4.
std::size_t dibRowBytes(std::int32_t width);

// The frame buffer of a frame of this size, header included; 0 when the
// size is no frame (not positive, or a side beyond kMaxFrameSide).
std::size_t dibFrameBytes(std::int32_t width, std::int32_t height);

// Where the rows of a delivered RGB frame lie in its buffer.
struct RgbLayout {
    bool usable = false;    // false: no frame, or a buffer shorter than its rows
    std::size_t stride = 0; // bytes from the start of one row to the next in memory
    bool topDown = false;   // the first row in memory is the picture's top row
};

// bytesPerPixel is 3 or 4. typeStride is the media type's default stride
// (positive: top-down, negative: bottom-up), 0 when the type tells none;
// then the stride follows from the buffer's length (rows exactly as long
// as their pixels, or padded to 4 bytes) and defaultTopDown gives the
// orientation.
RgbLayout planRgbLayout(std::int32_t width, std::int32_t height, unsigned bytesPerPixel,
                        std::size_t bufferBytes, std::int32_t typeStride, bool defaultTopDown);

// Writes the header and the rows of a frame planned by planRgbLayout into
// out, which holds dibFrameBytes(width, height) bytes; source holds the
// bufferBytes the plan was made for, and the layout is a usable one. Padding
// bytes are 0.
void packDibFrame(const unsigned char* source, const RgbLayout& layout, std::int32_t width,
                  std::int32_t height, unsigned bytesPerPixel, unsigned char* out);

// The frame buffer of a width x height frame turned clockwise by
// quarterTurns: height x width for 1 and 3, whose padded rows may take
// another count of bytes.
std::size_t turnedFrameBytes(std::int32_t width, std::int32_t height, int quarterTurns);

// A frame in this layout turned clockwise by quarterTurns (0 to 3) into out,
// which holds turnedFrameBytes(width, height, quarterTurns) bytes.
// `frame` holds dibFrameBytes(width, height) bytes of a frame of that size.
void turnDibFrame(const unsigned char* frame, std::int32_t width, std::int32_t height, int quarterTurns,
                  unsigned char* out);

} // namespace dovrikna

#endif
