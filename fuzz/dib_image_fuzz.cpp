// A native transfer's image as a source hands it over: any bytes, any size,
// in a heap block of exactly that size, so that a read past the handle is the
// sanitizer's to find. A DIB the reader accepts fits its memory, and its BMP
// file is the file header, the 40-byte header, masks, palette and pixels.
#include <cstring>
#include <vector>

#include "pages/dib_image.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> dib(data, data + size); // exactly `size` long
    DibLayout layout;
    const bool readable = readDibLayout(size ? dib.data() : nullptr, size, layout);
    const std::vector<unsigned char> bmp = bmpFileFromDib(size ? dib.data() : nullptr, size);
    fuzz::require(bmp.empty() == !readable, "a BMP file exactly when the layout reads", readable);
    if (!readable) return 0;
    fuzz::require(layout.width > 0 && layout.rows > 0, "size of an accepted DIB", layout.width);
    fuzz::require(layout.pixelsOffset + layout.pixelBytes <= size, "pixels past the handle",
                  static_cast<long long>(layout.pixelsOffset + layout.pixelBytes));
    fuzz::require(layout.stride % 4 == 0 && layout.pixelBytes == layout.stride * std::size_t(layout.rows),
                  "rows padded to 4", static_cast<long long>(layout.stride));
    // The file's header is always 40 bytes: the masks (inside a later header
    // or after a 40-byte one) and the palette follow it.
    const std::size_t extra = (layout.masksOffset ? 12 : 0) + layout.paletteBytes;
    fuzz::require(bmp.size() == kFileHeaderSize + kInfoHeaderSize + extra + layout.pixelBytes, "BMP file size",
                  static_cast<long long>(bmp.size()));
    fuzz::require(bmp[0] == 'B' && bmp[1] == 'M', "BMP signature", bmp[0]);
    // The rows go bottom-up: the file's first row is the picture's bottom row.
    const std::size_t bottom = layout.topDown ? std::size_t(layout.rows - 1) * layout.stride : 0;
    fuzz::require(std::memcmp(bmp.data() + bmp.size() - layout.pixelBytes, dib.data() + layout.pixelsOffset + bottom,
                              layout.stride) == 0,
                  "bottom row first", layout.topDown);
    return 0;
}
