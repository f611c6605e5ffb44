#include "desktop/dib_frame.h"

#include <cstring>

#include "desktop/thumbnail_fit.h"

namespace dovrikna {

namespace {

bool isFrameSize(std::int32_t width, std::int32_t height)
{
    return width > 0 && height > 0 && width <= kMaxFrameSide && height <= kMaxFrameSide;
}

void putLittleEndian(unsigned char* at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// BITMAPINFOHEADER: size, width, height (positive: bottom-up), planes 1,
// 24 bits, BI_RGB, image size; resolution and palette fields 0.
void putFrameHeader(unsigned char* out, std::int32_t width, std::int32_t height)
{
    std::memset(out, 0, kFrameHeaderBytes);
    putLittleEndian(out + 0, static_cast<std::uint32_t>(kFrameHeaderBytes), 4);
    putLittleEndian(out + 4, static_cast<std::uint32_t>(width), 4);
    putLittleEndian(out + 8, static_cast<std::uint32_t>(height), 4);
    putLittleEndian(out + 12, 1, 2);
    putLittleEndian(out + 14, 24, 2);
    putLittleEndian(out + 20, static_cast<std::uint32_t>(dibRowBytes(width) * static_cast<std::size_t>(height)), 4);
}

} // namespace

std::size_t dibRowBytes(std::int32_t width)
{
    return (3u * static_cast<std::size_t>(width) + 3u) & ~static_cast<std::size_t>(3);
}

std::size_t dibFrameBytes(std::int32_t width, std::int32_t height)
{
    // 16384 rows of 49152 bytes and the header fit in 32 bits.
    return isFrameSize(width, height) ? kFrameHeaderBytes + dibRowBytes(width) * static_cast<std::size_t>(height) : 0;
}

RgbLayout planRgbLayout(std::int32_t width, std::int32_t height, unsigned bytesPerPixel,
                        std::size_t bufferBytes, std::int32_t typeStride, bool defaultTopDown)
{
    RgbLayout layout;
    if (!isFrameSize(width, height) || (bytesPerPixel != 3 && bytesPerPixel != 4)) return layout;
    const std::uint64_t rows = static_cast<std::uint64_t>(height);
    const std::uint64_t pixelBytes = static_cast<std::uint64_t>(width) * bytesPerPixel;
    const std::uint64_t padded = (pixelBytes + 3) & ~std::uint64_t{3};
    std::uint64_t stride = 0;
    if (typeStride != 0) {
        const std::int64_t signedStride = typeStride;
        stride = static_cast<std::uint64_t>(signedStride < 0 ? -signedStride : signedStride);
        layout.topDown = typeStride > 0;
    } else {
        stride = bufferBytes == pixelBytes * rows ? pixelBytes : padded;
        layout.topDown = defaultTopDown;
    }
    // Every row whole inside the buffer; a stride shorter than a row's pixels
    // would read rows into each other.
    if (stride < pixelBytes || stride > (bufferBytes / rows)) return layout;
    layout.stride = static_cast<std::size_t>(stride);
    layout.usable = true;
    return layout;
}

void packDibFrame(const unsigned char* source, const RgbLayout& layout, std::int32_t width,
                  std::int32_t height, unsigned bytesPerPixel, unsigned char* out)
{
    const std::size_t rowBytes = dibRowBytes(width);
    const std::size_t rows = static_cast<std::size_t>(height);
    putFrameHeader(out, width, height);

    unsigned char* pixels = out + kFrameHeaderBytes;
    for (std::size_t row = 0; row < rows; ++row) {
        // Output row `row` is the picture's row counted from the bottom.
        const std::size_t fromTop = rows - 1 - row;
        const std::size_t memoryRow = layout.topDown ? fromTop : row;
        const unsigned char* from = source + memoryRow * layout.stride;
        unsigned char* to = pixels + row * rowBytes;
        const std::size_t pixelBytes = 3u * static_cast<std::size_t>(width);
        if (bytesPerPixel == 3) {
            std::memcpy(to, from, pixelBytes);
        } else {
            for (std::size_t x = 0; x < pixelBytes; x += 3, from += 4) std::memcpy(to + x, from, 3);
        }
        std::memset(to + pixelBytes, 0, rowBytes - pixelBytes);
    }
}

std::size_t turnedFrameBytes(std::int32_t width, std::int32_t height, int quarterTurns)
{
    return quarterTurns % 2 ? dibFrameBytes(height, width) : dibFrameBytes(width, height);
}

void turnDibFrame(const unsigned char* frame, std::int32_t width, std::int32_t height, int quarterTurns,
                  unsigned char* out)
{
    const bool sideways = quarterTurns == 1 || quarterTurns == 3;
    const std::int32_t outWidth = sideways ? height : width, outHeight = sideways ? width : height;
    putFrameHeader(out, outWidth, outHeight);
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t inRow = dibRowBytes(width), outRow = dibRowBytes(outWidth);
    const unsigned char* pixels = frame + kFrameHeaderBytes;
    unsigned char* turned = out + kFrameHeaderBytes;
    for (std::size_t row = 0; row < static_cast<std::size_t>(outHeight); ++row) {
        // Counted from the top, as the turn is easiest told: the shown pixel
        // (x, y) comes from the stored pixel (fromX, fromY).
        const std::size_t y = static_cast<std::size_t>(outHeight) - 1 - row;
        unsigned char* to = turned + row * outRow;
        for (std::size_t x = 0; x < static_cast<std::size_t>(outWidth); ++x, to += 3) {
            std::size_t fromX = x, fromY = y;
            switch (quarterTurns) {
            case 1: fromX = y, fromY = h - 1 - x; break;
            case 2: fromX = w - 1 - x, fromY = h - 1 - y; break;
            case 3: fromX = w - 1 - y, fromY = x; break;
            default: break;
            }
            std::memcpy(to, pixels + (h - 1 - fromY) * inRow + 3 * fromX, 3);
        }
        std::memset(to, 0, outRow - 3 * static_cast<std::size_t>(outWidth));
    }
}

} // namespace dovrikna
