// A video frame as Media Foundation delivers it: any size, pixel width,
// stated stride and buffer length. A usable plan never reads past the buffer
// (the sanitizer sees the copy) and fills the frame exactly, and so does a
// turn of the packed frame.
#include <cstring>
#include <vector>

#include "desktop/dib_frame.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 11) return 0;
    std::int32_t width, height, typeStride;
    std::memcpy(&width, data, 4);
    std::memcpy(&height, data + 4, 2); // 16 bits of height keep frames small
    height = static_cast<std::int16_t>(height);
    std::memcpy(&typeStride, data + 6, 4);
    width %= 70000; // beyond the largest side both ways, but not always
    typeStride %= 1 << 20;
    const unsigned bytesPerPixel = (data[10] & 1) ? 4 : 3;
    const bool defaultTopDown = (data[10] & 2) != 0;
    std::vector<std::uint8_t> buffer(data + 11, data + size); // exactly the delivered length
    const RgbLayout layout = planRgbLayout(width, height, bytesPerPixel, buffer.size(), typeStride, defaultTopDown);
    const std::size_t frameBytes = dibFrameBytes(width, height);
    if (!layout.usable) return 0;
    fuzz::require(frameBytes > 40, "a usable plan of no frame", frameBytes);
    fuzz::require(layout.stride >= std::size_t(width) * bytesPerPixel, "stride shorter than a row",
                  static_cast<long long>(layout.stride));
    fuzz::require(layout.stride * std::size_t(height - 1) + std::size_t(width) * bytesPerPixel <= buffer.size(),
                  "rows past the buffer", static_cast<long long>(layout.stride));
    std::vector<unsigned char> out(frameBytes);
    packDibFrame(buffer.data(), layout, width, height, bytesPerPixel, out.data());
    std::int32_t headerWidth, headerHeight;
    std::memcpy(&headerWidth, out.data() + 4, 4);
    std::memcpy(&headerHeight, out.data() + 8, 4);
    fuzz::require(headerWidth == width && headerHeight == height, "header size", headerHeight);
    fuzz::require(frameBytes == 40 + dibRowBytes(width) * std::size_t(height), "frame size",
                  static_cast<long long>(frameBytes));
    // The packed frame turned as the input's selector says: the turned
    // buffer is exactly as long as its own rows (the sanitizer sees the rest).
    const int turns = (data[10] >> 2) & 3;
    std::vector<unsigned char> turned(turnedFrameBytes(width, height, turns));
    turnDibFrame(out.data(), width, height, turns, turned.data());
    std::memcpy(&headerWidth, turned.data() + 4, 4);
    std::memcpy(&headerHeight, turned.data() + 8, 4);
    fuzz::require(turned.size() == 40 + dibRowBytes(headerWidth) * std::size_t(headerHeight), "turned size",
                  headerWidth);
    return 0;
}
