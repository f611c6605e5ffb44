#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "pages/dib_image.h"

namespace {

using namespace dovrikna;
using Bytes = std::vector<unsigned char>;

void put32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}
void put16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<unsigned char>(value);
    bytes[at + 1] = static_cast<unsigned char>(value >> 8);
}
std::uint32_t get32(const Bytes& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A DIB as a source lays it out. Palette entry i holds bytes 4i..4i+3, masks
// the bytes 0xA0.., and every byte of the row shown n-th from the top is n + 1.
struct Shape {
    const char* name;
    std::uint32_t headerSize;
    std::int32_t width, height;
    std::uint16_t bits;
    std::uint32_t compression;
    std::uint32_t colorsUsed;
    std::size_t paletteEntries; // what the DIB holds
    std::size_t masks;          // bytes of masks after a 40-byte header
    long sizeChange;            // bytes more (or fewer) than the parts need
};

Bytes makeDib(const Shape& shape)
{
    const std::uint64_t width = shape.width > 0 ? shape.width : 1;
    const std::uint64_t rows = shape.height < 0 ? -std::int64_t(shape.height) : (shape.height ? shape.height : 1);
    const std::uint64_t stride = (width * (shape.bits ? shape.bits : 8) + 31) / 32 * 4;
    const std::size_t pixelsAt = shape.headerSize + shape.masks + shape.paletteEntries * 4;
    Bytes dib(static_cast<std::size_t>(pixelsAt + stride * rows + shape.sizeChange));
    put32(dib, 0, shape.headerSize);
    put32(dib, 4, static_cast<std::uint32_t>(shape.width));
    put32(dib, 8, static_cast<std::uint32_t>(shape.height));
    put16(dib, 12, 1);
    put16(dib, 14, shape.bits);
    put32(dib, 16, shape.compression);
    put32(dib, 32, shape.colorsUsed);
    if (shape.compression == kBiBitfields)
        for (std::size_t i = 40; i < 52 && i < dib.size(); ++i) dib[i] = static_cast<unsigned char>(0xA0 + i);
    for (std::size_t i = 0; i < shape.paletteEntries * 4; ++i)
        dib[shape.headerSize + shape.masks + i] = static_cast<unsigned char>(i);
    for (std::uint64_t row = 0; row < rows && pixelsAt + (row + 1) * stride <= dib.size(); ++row) {
        const std::uint64_t shown = shape.height < 0 ? row : rows - 1 - row;
        std::memset(&dib[pixelsAt + row * stride], static_cast<int>(shown + 1), stride);
    }
    return dib;
}

// The DIB's bytes in memory of exactly their size, so that the sanitizer
// catches any read past them.
std::vector<unsigned char> convert(const Bytes& dib)
{
    std::unique_ptr<unsigned char[]> exact(new unsigned char[dib.size() ? dib.size() : 1]);
    if (!dib.empty()) std::memcpy(exact.get(), dib.data(), dib.size());
    return bmpFileFromDib(exact.get(), dib.size());
}

TEST(DibImage, EveryShapeIsWrittenBottomUpWithItsPaletteAndMasks)
{
    const Shape shapes[] = {
        {"1-bit, palette", 40, 9, 3, 1, kBiRgb, 0, 2, 0, 0},
        {"1-bit, top-down", 40, 33, -2, 1, kBiRgb, 2, 2, 0, 0},
        {"4-bit, 5 colours", 40, 3, 2, 4, kBiRgb, 5, 5, 0, 0},
        {"8-bit, full palette", 40, 5, 4, 8, kBiRgb, 0, 256, 0, 0},
        {"8-bit, 3 colours, top-down", 40, 7, -3, 8, kBiRgb, 3, 3, 0, 0},
        {"24-bit", 40, 5, 3, 24, kBiRgb, 0, 0, 0, 0},
        {"24-bit, top-down", 40, 3, -4, 24, kBiRgb, 0, 0, 0, 0},
        {"24-bit with an optimal palette", 40, 2, 2, 24, kBiRgb, 16, 16, 0, 0},
        {"24-bit, memory to spare", 40, 2, 2, 24, kBiRgb, 0, 0, 0, 100},
        {"16-bit bitfields", 40, 3, 2, 16, kBiBitfields, 0, 0, 12, 0},
        {"32-bit bitfields in a V4 header", 108, 2, -2, 32, kBiBitfields, 0, 0, 0, 0},
        {"32-bit, V5 header", 124, 2, 2, 32, kBiRgb, 0, 0, 0, 0},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        const Bytes dib = makeDib(shape);
        const Bytes file = convert(dib);
        ASSERT_FALSE(file.empty());

        const std::size_t masks = shape.compression == kBiBitfields ? 12 : 0;
        const std::size_t rows = shape.height < 0 ? -shape.height : shape.height;
        const std::size_t stride = (std::size_t(shape.width) * shape.bits + 31) / 32 * 4;
        const std::size_t pixelsAt = 14 + 40 + masks + shape.paletteEntries * 4;
        ASSERT_EQ(pixelsAt + stride * rows, file.size());
        EXPECT_EQ('B', file[0]);
        EXPECT_EQ('M', file[1]);
        EXPECT_EQ(file.size(), get32(file, 2));
        EXPECT_EQ(pixelsAt, get32(file, 10));
        EXPECT_EQ(40u, get32(file, 14));
        EXPECT_EQ(std::uint32_t(shape.width), get32(file, 18));
        EXPECT_EQ(rows, get32(file, 22)) << "a positive height: bottom-up";
        EXPECT_EQ(shape.bits, file[28]);
        EXPECT_EQ(shape.compression, get32(file, 30));
        EXPECT_EQ(stride * rows, get32(file, 34));

        const std::size_t dibMasks = shape.headerSize == 40 ? shape.masks : 0;
        for (std::size_t i = 0; i < masks; ++i)
            EXPECT_EQ(dib[40 + i], file[54 + i]) << "mask byte " << i;
        for (std::size_t i = 0; i < shape.paletteEntries * 4; ++i)
            ASSERT_EQ(dib[shape.headerSize + dibMasks + i], file[54 + masks + i]) << "palette byte " << i;
        // The last row in the file is the one shown at the top.
        for (std::size_t row = 0; row < rows; ++row)
            for (std::size_t i = 0; i < stride; ++i)
                ASSERT_EQ(rows - row, file[pixelsAt + row * stride + i]) << "row " << row;

        // Written in pieces (bands of one row, of a row and a bit, of three
        // rows), the file is the same; a sink that fails stops the writing.
        for (std::size_t band : {std::size_t(0), stride + 1, 3 * stride}) {
            for (std::size_t failAt = 0; failAt < 4; ++failAt) {
                Bytes pieces;
                std::size_t calls = 0;
                const bool whole = writeBmpOfDib(dib.data(), dib.size(), band, [&](const unsigned char* bytes,
                                                                                    std::size_t count) {
                    pieces.insert(pieces.end(), bytes, bytes + count);
                    return ++calls != failAt;
                });
                if (!whole) {
                    EXPECT_EQ(failAt, calls) << "band " << band << ": writes after a failed one";
                    continue;
                }
                EXPECT_TRUE(file == pieces) << "band " << band << ", " << calls << " pieces";
                const std::size_t perBand = band / stride ? band / stride : 1;
                const std::size_t expected = shape.height < 0 ? (rows + perBand - 1) / perBand : 1;
                EXPECT_EQ(1 + expected, calls) << "band " << band << ": the head, then the rows";
            }
        }
    }
}

TEST(DibImage, BadDibsAreRefusedWithoutReadingPastThem)
{
    const Shape shapes[] = {
        {"pixels one byte short", 40, 5, 3, 24, kBiRgb, 0, 0, 0, -1},
        {"palette cut short", 40, 4, 1, 8, kBiRgb, 0, 200, 0, 0},
        {"height claims more rows", 40, 4, 1000, 24, kBiRgb, 0, 0, 0, -(long(12) * 999)},
        {"width claims more", 40, 100000, 2, 24, kBiRgb, 0, 0, 0, -(long(300000) * 2 - 4 * 2)},
        {"more colours than 8 bits allow", 40, 2, 2, 8, kBiRgb, 300, 300, 0, 0},
        {"zero width", 40, 0, 2, 24, kBiRgb, 0, 0, 0, 0},
        {"negative width", 40, -4, 2, 24, kBiRgb, 0, 0, 0, 0},
        {"zero height", 40, 4, 0, 24, kBiRgb, 0, 0, 0, 0},
        {"lowest height", 40, 4, INT32_MIN, 24, kBiRgb, 0, 0, 0, 0},
        {"2 bits", 40, 4, 2, 2, kBiRgb, 0, 4, 0, 0},
        {"0 bits", 40, 4, 2, 0, kBiRgb, 0, 0, 0, 0},
        {"64 bits", 40, 4, 2, 64, kBiRgb, 0, 0, 0, 0},
        {"run-length", 40, 4, 2, 8, 1, 0, 256, 0, 0},
        {"JPEG", 40, 4, 2, 24, 4, 0, 0, 0, 0},
        {"bitfields at 24 bits", 40, 4, 2, 24, kBiBitfields, 0, 0, 12, 0},
        {"bitfields without masks", 40, 4, 1, 32, kBiBitfields, 0, 0, 0, 0},
        {"core header", 12, 4, 2, 24, kBiRgb, 0, 0, 0, 0},
        {"header size beyond the memory", 0xFFFFFFF0, 4, 2, 24, kBiRgb, 0, 0, 0, 0},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        // Header fields that cannot be laid out are written over a small DIB.
        Shape laidOut = shape;
        if (shape.headerSize < 40 || shape.headerSize > 124) laidOut.headerSize = 40;
        if (shape.height == INT32_MIN) laidOut.height = 2;
        Bytes dib = makeDib(laidOut);
        put32(dib, 0, shape.headerSize);
        put32(dib, 8, static_cast<std::uint32_t>(shape.height));
        EXPECT_TRUE(convert(dib).empty()) << dib.size() << " bytes";
    }
    // Shorter than a header.
    Bytes good = makeDib({"", 40, 1, 1, 24, kBiRgb, 0, 0, 0, 0});
    for (std::size_t size : {0, 1, 39, 43})
        EXPECT_TRUE(convert(Bytes(good.begin(), good.begin() + size)).empty()) << size << " bytes";
    EXPECT_TRUE(bmpFileFromDib(nullptr, 100).empty());
}

TEST(DibImage, BitmapsAreAskedForAtTheirDepthOrAt24Bits)
{
    struct Row {
        std::int32_t width, height;
        int bits;
        int askedBits; // 0: refused
        std::size_t headerBytes, pixelBytes;
    };
    const Row rows[] = {
        {3, 2, 24, 24, 40, 12 * 2},
        {5, -3, 32, 24, 40, 16 * 3},
        {2, 2, 16, 24, 40, 8 * 2},
        {9, 1, 1, 1, 40 + 8, 4},
        {3, 3, 4, 4, 40 + 64, 4 * 3},
        {2, 2, 8, 8, 40 + 1024, 4 * 2},
        {7000, 10000, 24, 24, 40, 21000 * 10000},
        {0, 1, 24, 0, 0, 0},
        {-1, 1, 24, 0, 0, 0},
        {1, 0, 24, 0, 0, 0},
        {1, INT32_MIN, 24, 0, 0, 0},
        {1, 1, 0, 0, 0, 0},
        {1, 1, 33, 0, 0, 0},
        {100000, 100000, 24, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.width << "x" << row.height << "x" << row.bits);
        Bytes header = bitmapDibHeader(row.width, row.height, row.bits);
        if (!row.askedBits) {
            EXPECT_TRUE(header.empty());
            continue;
        }
        ASSERT_EQ(row.headerBytes, header.size()) << "the header and the palette, no pixels";
        DibLayout layout;
        ASSERT_TRUE(readDibHeader(header.data(), header.size(), layout)) << "the request is a DIB header of its own";
        EXPECT_EQ(row.askedBits, layout.bitCount);
        EXPECT_FALSE(layout.topDown) << "asked for bottom-up";
        EXPECT_EQ(row.width, layout.width);
        EXPECT_EQ(row.height < 0 ? -row.height : row.height, layout.rows);
        EXPECT_EQ(row.pixelBytes, layout.pixelBytes);
        EXPECT_FALSE(readDibLayout(header.data(), header.size(), layout)) << "no room for the pixels";
    }
}

} // namespace
