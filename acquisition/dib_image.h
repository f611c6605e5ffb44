// The image of a native transfer: a device-independent bitmap (DIB) that a
// source hands over in memory, checked against the memory that holds it and
// written out as a BMP file. No Windows header: the checks also run natively
// under the sanitizers, on any bytes at all.
#ifndef DOVRIKNA_ACQUISITION_DIB_IMAGE_H
#define DOVRIKNA_ACQUISITION_DIB_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dovrikna {

// BITMAPINFOHEADER, the header every written file carries.
constexpr std::size_t kInfoHeaderSize = 40;
// BITMAPFILEHEADER.
constexpr std::size_t kFileHeaderSize = 14;
// Pixel data larger than this is refused rather than copied.
constexpr std::uint64_t kMaxDibPixelBytes = std::uint64_t(1) << 30;

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

// Where the parts of a packed DIB (header, colour masks, palette, pixels) lie.
struct DibLayout {
    std::int32_t width = 0;
    std::int32_t rows = 0;        // always positive
    bool topDown = false;         // the header's height was negative
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::size_t headerSize = 0;   // the header's own biSize
    std::size_t masksOffset = 0;  // the three BI_BITFIELDS masks (0 when none)
    std::size_t paletteOffset = 0;
    std::size_t paletteBytes = 0;
    std::size_t pixelsOffset = 0;
    std::size_t stride = 0;       // bytes per row, padded to 4
    std::size_t pixelBytes = 0;
};

// Reads the layout of a packed DIB of `size` bytes. False when the header is
// not a BITMAPINFOHEADER or a later one, the width is not positive, the height
// is zero, the bit depth is not 1, 4, 8, 16, 24 or 32, the compression is not
// BI_RGB (or BI_BITFIELDS at 16 or 32 bits), the palette is larger than the
// depth allows, or header, masks, palette and pixels need more than `size`
// bytes. Nothing beyond `size` is read.
bool readDibLayout(const void* dib, std::size_t size, DibLayout& layout);

// The BMP file of a packed DIB: file header, a BITMAPINFOHEADER with a
// positive height, the masks and the palette as given, the rows bottom-up.
// Empty when readDibLayout refuses the DIB.
std::vector<unsigned char> bmpFileFromDib(const void* dib, std::size_t size);

// A packed DIB to receive the pixels of a bitmap known by its width, height
// and bits per pixel (what the platform reports of a bitmap handle): a
// bottom-up BITMAPINFOHEADER, room for the palette (1, 4 and 8 bits keep their
// depth) and the pixels (deeper bitmaps are asked for at 24 bits). Empty when
// the dimensions or the depth are not ones a DIB can have.
std::vector<unsigned char> dibForBitmap(std::int32_t width, std::int32_t height, int bitsPerPixel);

} // namespace dovrikna

#endif
