#include "pages/dib_image.h"

#include <algorithm>
#include <cstring>

namespace dovrikna {

namespace {

// DIB headers are little-endian on every platform this library runs on.
std::uint32_t read32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t read16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

void write32(unsigned char* bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

void write16(unsigned char* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

// Offsets inside BITMAPINFOHEADER.
enum : std::size_t {
    kBiSize = 0,
    kBiWidth = 4,
    kBiHeight = 8,
    kBiPlanes = 12,
    kBiBitCount = 14,
    kBiCompression = 16,
    kBiSizeImage = 20,
    kBiClrUsed = 32,
};

bool knownDepth(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Bytes per row, padded to 4. A width below 2^31 at 32 bits cannot overflow.
std::uint64_t strideOf(std::uint64_t width, unsigned bits)
{
    return (width * bits + 31) / 32 * 4;
}

} // namespace

bool readDibHeader(const void* dib, std::size_t size, DibLayout& layout)
{
    layout = DibLayout();
    const auto* bytes = static_cast<const unsigned char*>(dib);
    if (!bytes || size < kInfoHeaderSize) return false;

    // BITMAPINFOHEADER (40) and its successors V2 (52), V3 (56), V4 (108), V5 (124).
    const std::uint32_t headerSize = read32(bytes + kBiSize);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
        return false;
    const auto width = static_cast<std::int32_t>(read32(bytes + kBiWidth));
    const auto height = static_cast<std::int32_t>(read32(bytes + kBiHeight));
    const std::uint16_t bits = read16(bytes + kBiBitCount);
    const std::uint32_t compression = read32(bytes + kBiCompression);
    const std::uint32_t colorsUsed = read32(bytes + kBiClrUsed);
    if (width <= 0 || height == 0 || height == INT32_MIN || !knownDepth(bits)) return false;
    if (compression != kBiRgb && !(compression == kBiBitfields && (bits == 16 || bits == 32))) return false;

    std::uint64_t colors = colorsUsed;
    if (bits <= 8) {
        const std::uint64_t most = std::uint64_t(1) << bits;
        if (colors == 0) colors = most;
        if (colors > most) return false;
    }
    // The masks follow a plain BITMAPINFOHEADER; later headers hold them at
    // the same place, inside the header.
    const std::uint64_t masksEnd = compression == kBiBitfields ? kInfoHeaderSize + 12 : 0;
    const std::uint64_t paletteOffset = headerSize > masksEnd ? headerSize : masksEnd;
    const std::uint64_t paletteBytes = colors * 4;
    const std::uint64_t stride = strideOf(static_cast<std::uint64_t>(width), bits);
    const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    const std::uint64_t pixelBytes = stride * rows;
    if (pixelBytes > kMaxDibPixelBytes || paletteBytes > kMaxDibPixelBytes) return false;
    if (paletteOffset + paletteBytes > size) return false;

    layout.width = width;
    layout.rows = static_cast<std::int32_t>(rows);
    layout.topDown = height < 0;
    layout.bitCount = bits;
    layout.compression = compression;
    layout.headerSize = headerSize;
    layout.masksOffset = masksEnd ? kInfoHeaderSize : 0;
    layout.paletteOffset = static_cast<std::size_t>(paletteOffset);
    layout.paletteBytes = static_cast<std::size_t>(paletteBytes);
    layout.pixelsOffset = static_cast<std::size_t>(paletteOffset + paletteBytes);
    layout.stride = static_cast<std::size_t>(stride);
    layout.pixelBytes = static_cast<std::size_t>(pixelBytes);
    return true;
}

bool readDibLayout(const void* dib, std::size_t size, DibLayout& layout)
{
    // The pixels fit after the parts before them: both are below 2^31 each.
    if (readDibHeader(dib, size, layout) && layout.pixelBytes <= size - layout.pixelsOffset) return true;
    layout = DibLayout();
    return false;
}

std::vector<unsigned char> bmpFileHead(const void* dib, const DibLayout& layout)
{
    const auto* bytes = static_cast<const unsigned char*>(dib);
    const std::size_t masks = layout.masksOffset ? 12 : 0;
    const std::size_t pixelsAt = kFileHeaderSize + kInfoHeaderSize + masks + layout.paletteBytes;
    std::vector<unsigned char> head(pixelsAt);
    unsigned char* out = head.data();

    out[0] = 'B';
    out[1] = 'M';
    write32(out + 2, static_cast<std::uint32_t>(pixelsAt + layout.pixelBytes));
    write32(out + 10, static_cast<std::uint32_t>(pixelsAt));

    // The later headers' extra fields (colour space, profile) are dropped:
    // the plain header is what every reader takes.
    unsigned char* header = out + kFileHeaderSize;
    std::memcpy(header, bytes, kInfoHeaderSize);
    write32(header + kBiSize, kInfoHeaderSize);
    write32(header + kBiHeight, static_cast<std::uint32_t>(layout.rows));
    write16(header + kBiPlanes, 1);
    write32(header + kBiSizeImage, static_cast<std::uint32_t>(layout.pixelBytes));
    if (masks) std::memcpy(header + kInfoHeaderSize, bytes + layout.masksOffset, masks);
    std::memcpy(header + kInfoHeaderSize + masks, bytes + layout.paletteOffset, layout.paletteBytes);
    return head;
}

std::size_t rowsPerBand(const DibLayout& layout, std::size_t bandBytes)
{
    const std::size_t rows = layout.stride ? bandBytes / layout.stride : 0;
    if (rows < 1) return 1;
    return rows < std::size_t(layout.rows) ? rows : std::size_t(layout.rows);
}

bool writeBmpOfDib(const void* dib, std::size_t size, std::size_t bandBytes, const BmpSink& sink)
{
    DibLayout layout;
    if (!readDibLayout(dib, size, layout)) return false;
    const std::vector<unsigned char> head = bmpFileHead(dib, layout);
    if (!sink(head.data(), head.size())) return false;

    const unsigned char* pixels = static_cast<const unsigned char*>(dib) + layout.pixelsOffset;
    if (!layout.topDown) return sink(pixels, layout.pixelBytes);

    // Top-down rows are gathered bottom row first into a band, so that the
    // file needs neither a copy of the image nor a write per row.
    const std::size_t perBand = rowsPerBand(layout, bandBytes);
    std::vector<unsigned char> band(perBand * layout.stride);
    for (std::size_t written = 0; written < std::size_t(layout.rows);) {
        const std::size_t count = std::min(perBand, std::size_t(layout.rows) - written);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t from = layout.rows - 1 - (written + i);
            std::memcpy(band.data() + i * layout.stride, pixels + from * layout.stride, layout.stride);
        }
        if (!sink(band.data(), count * layout.stride)) return false;
        written += count;
    }
    return true;
}

std::vector<unsigned char> bmpFileFromDib(const void* dib, std::size_t size)
{
    std::vector<unsigned char> file;
    const bool whole = writeBmpOfDib(dib, size, kBmpBandBytes, [&](const unsigned char* bytes, std::size_t count) {
        file.insert(file.end(), bytes, bytes + count);
        return true;
    });
    if (!whole) file.clear();
    return file;
}

std::vector<unsigned char> bitmapDibHeader(std::int32_t width, std::int32_t height, int bitsPerPixel)
{
    if (width <= 0 || height == 0 || height == INT32_MIN || bitsPerPixel <= 0 || bitsPerPixel > 32) return {};
    const unsigned bits = bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 ? bitsPerPixel : 24;
    const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    const std::uint64_t pixelBytes = strideOf(static_cast<std::uint64_t>(width), bits) * rows;
    if (pixelBytes > kMaxDibPixelBytes) return {};
    const std::size_t paletteBytes = bits <= 8 ? (std::size_t(1) << bits) * 4 : 0;

    std::vector<unsigned char> dib(kInfoHeaderSize + paletteBytes);
    unsigned char* header = dib.data();
    write32(header + kBiSize, kInfoHeaderSize);
    write32(header + kBiWidth, static_cast<std::uint32_t>(width));
    write32(header + kBiHeight, static_cast<std::uint32_t>(rows));
    write16(header + kBiPlanes, 1);
    write16(header + kBiBitCount, static_cast<std::uint16_t>(bits));
    write32(header + kBiCompression, kBiRgb);
    write32(header + kBiSizeImage, static_cast<std::uint32_t>(pixelBytes));
    return dib;
}

} // namespace dovrikna
