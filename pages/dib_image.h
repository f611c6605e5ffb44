// The image of a native transfer: a device-independent bitmap (DIB) that a
// source hands over in memory, checked against the memory that holds it and
// written out as a BMP file from where it lies. No Windows header: the checks
// also run natively under the sanitizers, on any bytes at all.
#ifndef DOVRIKNA_PAGES_DIB_IMAGE_H
#define DOVRIKNA_PAGES_DIB_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Reads the layout of a DIB from its header, masks and palette alone, the
// first `size` bytes. False when the header is not a BITMAPINFOHEADER or a
// later one, the width is not positive, the height is zero, the bit depth is
// not 1, 4, 8, 16, 24 or 32, the compression is not BI_RGB (or BI_BITFIELDS
// at 16 or 32 bits), the palette is larger than the depth allows or than
// `size` holds, or the pixels would pass kMaxDibPixelBytes.
bool readDibHeader(const void* dib, std::size_t size, DibLayout& layout);

// Reads the layout of a packed DIB of `size` bytes: what readDibHeader
// refuses, and a DIB whose pixels need more than `size` bytes, are refused.
// Nothing beyond `size` is read.
bool readDibLayout(const void* dib, std::size_t size, DibLayout& layout);

// The bytes of the BMP file before its pixels: the file header, a
// BITMAPINFOHEADER with a positive height, the masks and the palette as given.
std::vector<unsigned char> bmpFileHead(const void* dib, const DibLayout& layout);

// Rows of this layout in a band of about `bandBytes` (one at least, the
// image's rows at most).
std::size_t rowsPerBand(const DibLayout& layout, std::size_t bandBytes);

// Takes the bytes of a file in order; false stops the writing.
using BmpSink = std::function<bool(const unsigned char* bytes, std::size_t count)>;

// How much of an image is held at once while it is written out.
constexpr std::size_t kBmpBandBytes = std::size_t(4) << 20;

// Gives `sink` the BMP file of a packed DIB without a copy of the image: the
// head, then the rows bottom-up: a bottom-up DIB's pixels in one piece from
// where they lie, a top-down DIB's rows reversed into bands of about
// `bandBytes`. False when readDibLayout refuses the DIB or `sink` fails.
bool writeBmpOfDib(const void* dib, std::size_t size, std::size_t bandBytes, const BmpSink& sink);

// The BMP file of a packed DIB in memory, as writeBmpOfDib gives it. Empty
// when readDibLayout refuses the DIB.
std::vector<unsigned char> bmpFileFromDib(const void* dib, std::size_t size);

// The header of a DIB to receive the pixels of a bitmap known by its width,
// height and bits per pixel (what the platform reports of a bitmap handle): a
// bottom-up BITMAPINFOHEADER and room for the palette (1, 4 and 8 bits keep
// their depth; deeper bitmaps are asked for at 24 bits). Empty when the
// dimensions or the depth are not ones a DIB can have.
std::vector<unsigned char> bitmapDibHeader(std::int32_t width, std::int32_t height, int bitsPerPixel);

} // namespace dovrikna

#endif
