// The BMP file of a page that a source hands over in memory strips: each
// strip's rows written straight to their place in the file, so that the file
// holds the bytes a native transfer of the same image gives (bottom-up rows,
// padded to 4 bytes, B,G,R, a palette for 1 and 8 bits) while no more than a
// strip and a band are ever held. No Windows header: the placement also runs
// natively under the sanitizers, on any strip records at all.
#ifndef DOVRIKNA_PAGES_MEMORY_PAGE_H
#define DOVRIKNA_PAGES_MEMORY_PAGE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "acquisition/twain_types.h"

namespace dovrikna {

// The file the page is written into: writes and reads at an offset, false
// when they fall short.
struct PageFile {
    std::function<bool(std::uint64_t offset, const unsigned char* bytes, std::size_t count)> write;
    std::function<bool(std::uint64_t offset, unsigned char* bytes, std::size_t count)> read;
};

// A page's rows as one of the three kinds a BMP file takes them: 1-bit
// black and white, 8-bit grey, 24-bit colour, uncompressed and chunky.
// Anything else (another depth or pixel type, planes, compression, an
// unknown width) is no memory page of ours: the page goes natively.
bool memoryPageFits(const TW_IMAGEINFO& info);

// The buffer asked for: the source's preferred size, within its minimum and
// maximum, and never below its minimum or one row of the page (also where
// the maximum is smaller); a source that does not care gets
// kDefaultStripBytes. 0 for a page that memoryPageFits refuses.
constexpr std::uint32_t kDefaultStripBytes = 1u << 20;
// Strips are gathered into writes of about this many bytes.
constexpr std::size_t kStripBandBytes = std::size_t(1) << 20;
std::uint32_t stripBufferSize(const TW_SETUPMEMXFER& setup, const TW_IMAGEINFO& info);

class MemoryPageWriter {
public:
    // `flavor` (ICAP_PIXELFLAVOR) tells what zero means in 1- and 8-bit rows.
    // The head goes out at once when the length is known, at finish() when
    // it is not (ImageLength -1). False when memoryPageFits refuses the page
    // or the head cannot be written.
    bool start(const TW_IMAGEINFO& info, TW_UINT16 flavor, const PageFile& file);

    // One strip as the source described it, its bytes at `data` (a buffer of
    // `bufferSize` bytes). False, and nothing more is placed, for a strip the
    // page cannot take: compressed, tiled (an offset or a column count other
    // than the page's), rows shorter than the page's, more bytes than the
    // buffer holds, rows outside the page or placed before, rows of a page of
    // unknown length out of order, a page larger than a BMP file can be; or
    // when the file refuses a write. Rows that follow one another in the
    // file are written together, up to kStripBandBytes: a write refused
    // shows at a later strip or at finish().
    bool place(const TW_IMAGEMEMXFER& strip, const unsigned char* data, std::size_t bufferSize);

    // After the last strip: true when every row of the page was placed and
    // the file is whole (a page of unknown length has its rows turned
    // bottom-up in the file, a band at a time, and its head written).
    bool finish();

    std::uint32_t rowsPlaced() const { return placed_; }
    // Bytes of the whole file (known once the length is).
    std::uint64_t fileSize() const;

private:
    bool writeHead(std::uint32_t rows);
    void convertRow(const unsigned char* from, unsigned char* to) const;
    // Room in the band for a strip's rows that go to `fileRow` onwards;
    // the rows held before are written first unless these join them.
    unsigned char* bandFor(std::uint64_t fileRow, std::size_t rows);
    bool writeBand();
    bool reverseRows();

    PageFile file_;
    std::vector<unsigned char> header_; // BITMAPINFOHEADER, its height filled in by writeHead
    std::vector<unsigned char> palette_;
    std::vector<unsigned char> band_; // rows placed and not yet written, in the file's order
    std::size_t bandRows_ = 0;        // rows the band holds
    std::size_t bandLow_ = 0;         // band rows [low, high) are held ...
    std::size_t bandHigh_ = 0;
    std::uint64_t bandFileRow_ = 0;   // ... from this row of the file on
    std::vector<bool> taken_; // rows of a page of known length already placed
    std::int32_t width_ = 0;
    std::int32_t length_ = -1; // -1: unknown until the last strip
    std::uint16_t bits_ = 0;
    std::size_t rowBytes_ = 0; // meaningful bytes of one row
    std::size_t stride_ = 0;   // bytes of one row in the file
    std::uint64_t pixelsAt_ = 0;
    std::uint32_t placed_ = 0;
    bool broken_ = true;
};

} // namespace dovrikna

#endif
