#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "pages/memory_page.h"

namespace {

using namespace dovrikna;
using Bytes = std::vector<unsigned char>;

TW_IMAGEINFO imageInfo(TW_INT16 pixelType, TW_INT32 width, TW_INT32 length)
{
    TW_IMAGEINFO info;
    std::memset(&info, 0x5A, sizeof info); // fields a source leaves alone are junk
    info.XResolution = {200, 0};
    info.YResolution = {200, 0};
    info.ImageWidth = width;
    info.ImageLength = length;
    info.PixelType = pixelType;
    info.SamplesPerPixel = pixelType == TWPT_RGB ? 3 : 1;
    info.BitsPerPixel = pixelType == TWPT_RGB ? 24 : pixelType == TWPT_GRAY ? 8 : 1;
    for (int i = 0; i < 3; ++i) info.BitsPerSample[i] = pixelType == TWPT_BW ? 1 : 8;
    info.Planar = 0;
    info.Compression = TWCP_NONE;
    return info;
}

// The page as the source sees it: byte k of row y (top first), as it sends it.
unsigned char sourceByte(std::uint32_t y, std::size_t k) { return static_cast<unsigned char>(y * 31 + k * 7 + 1); }

// The page's file, and a page file that writes into it.
struct MemoryFile {
    Bytes bytes;
    long writesLeft = -1; // the disk fills after this many writes
    std::size_t largestWrite = 0; // the most the writer held at once, at least
    PageFile file()
    {
        PageFile page;
        page.write = [this](std::uint64_t offset, const unsigned char* data, std::size_t count) {
            if (writesLeft == 0) return false;
            if (writesLeft > 0) --writesLeft;
            largestWrite = std::max(largestWrite, count);
            if (bytes.size() < offset + count) bytes.resize(offset + count);
            std::memcpy(bytes.data() + offset, data, count);
            return true;
        };
        page.read = [this](std::uint64_t offset, unsigned char* data, std::size_t count) {
            if (offset + count > bytes.size()) return false;
            std::memcpy(data, bytes.data() + offset, count);
            return true;
        };
        return page;
    }
};

// Sends the page's rows in strips of `rowsPerStrip`, each row padded to
// `bytesPerRow` with 0xEE; false once a strip is refused.
bool sendStrips(MemoryPageWriter& writer, const TW_IMAGEINFO& info, std::uint32_t rows, std::uint32_t rowsPerStrip,
                std::uint32_t bytesPerRow)
{
    const std::size_t rowBytes = (std::size_t(info.ImageWidth) * info.BitsPerPixel + 7) / 8;
    Bytes buffer(std::size_t(rowsPerStrip) * bytesPerRow);
    for (std::uint32_t y = 0; y < rows; y += rowsPerStrip) {
        TW_IMAGEMEMXFER strip;
        std::memset(&strip, 0, sizeof strip);
        strip.Columns = info.ImageWidth;
        strip.BytesPerRow = bytesPerRow;
        strip.YOffset = y;
        strip.Rows = std::min(rowsPerStrip, rows - y);
        strip.BytesWritten = strip.Rows * bytesPerRow;
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        for (std::uint32_t r = 0; r < strip.Rows; ++r)
            for (std::size_t k = 0; k < rowBytes; ++k) buffer[r * bytesPerRow + k] = sourceByte(y + r, k);
        if (!writer.place(strip, buffer.data(), buffer.size())) return false;
    }
    return true;
}

// The BMP file a native transfer of the page gives: the source's DIB
// (bottom-up, B,G,R, a palette of greys with as many colours used and
// important) written out.
Bytes expectedFile(const TW_IMAGEINFO& info, std::uint32_t rows, bool zeroIsWhite)
{
    const unsigned bits = info.BitsPerPixel;
    const std::size_t rowBytes = (std::size_t(info.ImageWidth) * bits + 7) / 8;
    const std::size_t stride = (std::size_t(info.ImageWidth) * bits + 31) / 32 * 4;
    const std::size_t colours = bits <= 8 ? std::size_t(1) << bits : 0;
    const std::size_t pixelsAt = 54 + colours * 4;
    Bytes file(pixelsAt + stride * rows, 0);
    auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(value >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, static_cast<std::uint32_t>(file.size()));
    put(10, static_cast<std::uint32_t>(pixelsAt));
    put(14, 40);
    put(18, info.ImageWidth);
    put(22, rows);
    file[26] = 1;
    file[28] = static_cast<unsigned char>(bits);
    put(34, static_cast<std::uint32_t>(stride * rows));
    put(38, 7874); // 200 dpi
    put(42, 7874);
    put(46, static_cast<std::uint32_t>(colours));
    put(50, static_cast<std::uint32_t>(colours));
    for (std::size_t i = 0; i < colours; ++i) {
        const auto level = static_cast<unsigned char>(i * 255 / (colours - 1));
        for (int c = 0; c < 3; ++c) file[54 + i * 4 + c] = zeroIsWhite ? 255 - level : level;
    }
    for (std::uint32_t y = 0; y < rows; ++y) {
        unsigned char* row = &file[pixelsAt + (rows - 1 - y) * stride];
        for (std::size_t k = 0; k < rowBytes; ++k) row[k] = sourceByte(y, bits == 24 ? k - k % 3 + 2 - k % 3 : k);
    }
    return file;
}

TEST(MemoryPage, StripsMakeTheBytesOfTheNativeFileWithTheLengthKnownOrNot)
{
    struct Case {
        const char* name;
        TW_INT16 pixelType;
        TW_INT32 width;
        std::uint32_t rows, rowsPerStrip, bytesPerRow;
        bool lengthKnown;
        TW_UINT16 flavor;
    } cases[] = {
        {"RGB, rows padded by the source", TWPT_RGB, 5, 7, 2, 16, true, TWPF_CHOCOLATE},
        {"RGB, unpadded rows (gphoto2.ds), one strip", TWPT_RGB, 5, 3, 3, 15, true, TWPF_CHOCOLATE},
        {"GRAY, length unknown, odd rows", TWPT_GRAY, 6, 9, 4, 8, false, TWPF_CHOCOLATE},
        {"GRAY, vanilla", TWPT_GRAY, 6, 4, 1, 8, true, TWPF_VANILLA},
        {"BW, odd width", TWPT_BW, 13, 5, 2, 4, true, TWPF_CHOCOLATE},
        {"BW, vanilla, length unknown", TWPT_BW, 33, 6, 5, 8, false, TWPF_VANILLA},
        // Unknown length, turned in the file in bands from both ends with a
        // middle row left where it is.
        {"RGB, length unknown, several bands", TWPT_RGB, 700, 2001, 93, 2100, false, TWPF_CHOCOLATE},
        {"RGB, several bands written", TWPT_RGB, 700, 2001, 93, 2100, true, TWPF_CHOCOLATE},
        {"RGB, length unknown, even rows, several bands", TWPT_RGB, 700, 2400, 100, 2100, false, TWPF_CHOCOLATE},
        // Strips larger than a band, in the band a piece at a time.
        {"RGB, strips above a band", TWPT_RGB, 700, 2001, 600, 2101, true, TWPF_CHOCOLATE},
        {"RGB, length unknown, strips above a band", TWPT_RGB, 700, 2001, 600, 2100, false, TWPF_CHOCOLATE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TW_IMAGEINFO info = imageInfo(c.pixelType, c.width, c.lengthKnown ? TW_INT32(c.rows) : -1);
        MemoryFile file;
        MemoryPageWriter writer;
        ASSERT_TRUE(writer.start(info, c.flavor, file.file()));
        ASSERT_TRUE(sendStrips(writer, info, c.rows, c.rowsPerStrip, c.bytesPerRow));
        EXPECT_LE(file.largestWrite, kStripBandBytes) << "more than a band held besides the strip";
        ASSERT_TRUE(writer.finish());
        const Bytes expected = expectedFile(info, c.rows, c.flavor == TWPF_VANILLA);
        ASSERT_EQ(expected.size(), file.bytes.size());
        EXPECT_EQ(expected.size(), writer.fileSize());
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(expected[i], file.bytes[i]) << "byte " << i << " of " << expected.size();
    }
}

TEST(MemoryPage, StripsThePageCannotTakeAreRefusedAndNothingMoreIsPlaced)
{
    const TW_IMAGEINFO info = imageInfo(TWPT_RGB, 4, 6);
    TW_IMAGEMEMXFER good;
    std::memset(&good, 0, sizeof good);
    good.Columns = 4;
    good.BytesPerRow = 12;
    good.Rows = 2;
    good.BytesWritten = 24;
    struct Case {
        const char* name;
        void (*change)(TW_IMAGEMEMXFER&);
        std::size_t buffer;
    } cases[] = {
        {"compressed", [](TW_IMAGEMEMXFER& s) { s.Compression = 5; }, 24},
        {"a tile to the right", [](TW_IMAGEMEMXFER& s) { s.XOffset = 2; s.Columns = 2; }, 24},
        {"fewer columns", [](TW_IMAGEMEMXFER& s) { s.Columns = 3; }, 24},
        {"rows shorter than the page's", [](TW_IMAGEMEMXFER& s) { s.BytesPerRow = 11; }, 24},
        {"more bytes than the buffer", [](TW_IMAGEMEMXFER& s) { s.Rows = 3; s.BytesWritten = 36; }, 24},
        {"fewer bytes written than the rows", [](TW_IMAGEMEMXFER& s) { s.BytesWritten = 23; }, 24},
        {"rows below the page", [](TW_IMAGEMEMXFER& s) { s.YOffset = 5; }, 24},
        {"row count that wraps", [](TW_IMAGEMEMXFER& s) { s.YOffset = 0xFFFFFFFF; }, 24},
        {"the DONTCARE record as sent", [](TW_IMAGEMEMXFER& s) {
             s.Compression = TWON_DONTCARE16;
             s.BytesPerRow = s.Columns = s.Rows = s.XOffset = s.YOffset = s.BytesWritten = TWON_DONTCARE32;
         }, 24},
    };
    Bytes buffer(64, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryFile file;
        MemoryPageWriter writer;
        ASSERT_TRUE(writer.start(info, TWPF_CHOCOLATE, file.file()));
        TW_IMAGEMEMXFER strip = good;
        c.change(strip);
        EXPECT_FALSE(writer.place(strip, buffer.data(), c.buffer));
        EXPECT_FALSE(writer.place(good, buffer.data(), 24)) << "a good strip after a refused one";
        EXPECT_FALSE(writer.finish());
        EXPECT_EQ(0u, writer.rowsPlaced());
    }

    // Rows placed twice, rows missing at the end, rows of a page of unknown
    // length out of order, a full disk.
    MemoryFile file;
    MemoryPageWriter twice;
    ASSERT_TRUE(twice.start(info, TWPF_CHOCOLATE, file.file()));
    EXPECT_TRUE(twice.place(good, buffer.data(), 24));
    TW_IMAGEMEMXFER overlapping = good;
    overlapping.YOffset = 1;
    EXPECT_FALSE(twice.place(overlapping, buffer.data(), 24));

    MemoryPageWriter missing;
    ASSERT_TRUE(missing.start(info, TWPF_CHOCOLATE, file.file()));
    TW_IMAGEMEMXFER last = good;
    last.YOffset = 4;
    EXPECT_TRUE(missing.place(good, buffer.data(), 24));
    EXPECT_TRUE(missing.place(last, buffer.data(), 24));
    EXPECT_FALSE(missing.finish()) << "rows 2 and 3 never came";

    MemoryPageWriter unordered;
    ASSERT_TRUE(unordered.start(imageInfo(TWPT_RGB, 4, -1), TWPF_CHOCOLATE, file.file()));
    EXPECT_FALSE(unordered.place(last, buffer.data(), 24));
    MemoryPageWriter empty;
    ASSERT_TRUE(empty.start(imageInfo(TWPT_RGB, 4, -1), TWPF_CHOCOLATE, file.file()));
    EXPECT_FALSE(empty.finish()) << "a page of no rows";

    MemoryFile full;
    full.writesLeft = 1; // the head
    MemoryPageWriter diskFull;
    ASSERT_TRUE(diskFull.start(info, TWPF_CHOCOLATE, full.file()));
    EXPECT_FALSE(sendStrips(diskFull, info, 6, 2, 12) && diskFull.finish());
}

TEST(MemoryPage, OnlyPagesABmpFileTakesGoThroughMemory)
{
    struct Case {
        const char* name;
        void (*change)(TW_IMAGEINFO&);
        bool fits;
    } cases[] = {
        {"RGB", [](TW_IMAGEINFO&) {}, true},
        {"length unknown", [](TW_IMAGEINFO& i) { i.ImageLength = -1; }, true},
        {"BW", [](TW_IMAGEINFO& i) { i.PixelType = TWPT_BW; i.BitsPerPixel = 1; i.SamplesPerPixel = 1; }, true},
        {"GRAY", [](TW_IMAGEINFO& i) { i.PixelType = TWPT_GRAY; i.BitsPerPixel = 8; i.SamplesPerPixel = 1; }, true},
        {"GRAY at 16 bits", [](TW_IMAGEINFO& i) { i.PixelType = TWPT_GRAY; i.BitsPerPixel = 16; i.SamplesPerPixel = 1; }, false},
        {"RGB at 48 bits", [](TW_IMAGEINFO& i) { i.BitsPerPixel = 48; }, false},
        {"RGB with 16-bit samples", [](TW_IMAGEINFO& i) { i.BitsPerSample[1] = 16; }, false},
        {"planar", [](TW_IMAGEINFO& i) { i.Planar = 1; }, false},
        {"compressed", [](TW_IMAGEINFO& i) { i.Compression = 5; }, false},
        {"palette", [](TW_IMAGEINFO& i) { i.PixelType = 3; i.BitsPerPixel = 8; i.SamplesPerPixel = 1; }, false},
        {"CMYK", [](TW_IMAGEINFO& i) { i.PixelType = 5; i.BitsPerPixel = 32; i.SamplesPerPixel = 4; }, false},
        {"width unknown", [](TW_IMAGEINFO& i) { i.ImageWidth = -1; }, false},
        {"no rows", [](TW_IMAGEINFO& i) { i.ImageLength = 0; }, false},
        {"length below -1", [](TW_IMAGEINFO& i) { i.ImageLength = -2; }, false},
        {"a file above 4 GB", [](TW_IMAGEINFO& i) { i.ImageWidth = 40000; i.ImageLength = 40000; }, false},
    };
    for (const Case& c : cases) {
        TW_IMAGEINFO info = imageInfo(TWPT_RGB, 10, 10);
        c.change(info);
        EXPECT_EQ(c.fits, memoryPageFits(info)) << c.name;
        MemoryFile file;
        MemoryPageWriter writer;
        EXPECT_EQ(c.fits, writer.start(info, TWPF_CHOCOLATE, file.file())) << c.name;
    }
}

TEST(MemoryPage, BufferIsThePreferredSizeWithinTheLimitsAndARow)
{
    const TW_IMAGEINFO info = imageInfo(TWPT_RGB, 1700, 2200); // rows of 5100 bytes
    struct Case {
        TW_UINT32 least, most, preferred, size;
    } cases[] = {
        {5100, 65536, 65536, 65536},         // the sample source's defaults
        {5100, 65536, 1000000, 65536},       // preferred above the most
        {20000, 65536, 10000, 20000},        // preferred below the least
        {0, 0, 0, kDefaultStripBytes},       // says nothing
        {TWON_DONTCARE32, TWON_DONTCARE32, TWON_DONTCARE32, kDefaultStripBytes},
        {0, 4096, 4096, 5100},               // a row, even above the most
        {1912, 1, 1, 5100},                  // the sample source asked for less than a row
        {16, 1 << 30, 100, 5100},            // never below a row
    };
    for (const Case& c : cases) {
        const TW_SETUPMEMXFER setup = {c.least, c.most, c.preferred};
        EXPECT_EQ(c.size, stripBufferSize(setup, info))
            << "least " << c.least << " most " << c.most << " preferred " << c.preferred;
    }
}

} // namespace
