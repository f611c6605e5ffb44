#include "pages/memory_page.h"

#include <algorithm>
#include <cstring>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <immintrin.h>
#endif

#include "pages/dib_image.h"

namespace dovrikna {

namespace {

// A BMP file's sizes are 32-bit.
constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFFull;

void put32(unsigned char* bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

void put16(unsigned char* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

std::size_t rowBytesOf(std::int32_t width, unsigned bits)
{
    return static_cast<std::size_t>((std::uint64_t(width) * bits + 7) / 8);
}

std::size_t strideOf(std::int32_t width, unsigned bits)
{
    return static_cast<std::size_t>((std::uint64_t(width) * bits + 31) / 32 * 4);
}

// Pixels per metre of a resolution in dots per inch, as a DIB header holds it.
std::uint32_t perMetre(const TW_FIX32& dpi)
{
    if (dpi.Whole <= 0) return 0;
    const double value = dpi.Whole + dpi.Frac / 65536.0;
    return static_cast<std::uint32_t>(value * 10000.0 / 254.0 + 0.5);
}

// R,G,B pixels turned into B,G,R a vector at a time where the processor
// has a byte shuffle: byte by byte, the turn of a colour page took two thirds
// of the time its source took to fill the strips. Returns the pixels done
// (the rest are the caller's); a shuffle's 16 bytes hold five pixels and the
// next one's first byte, which the next shuffle or the caller writes again.
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
__attribute__((target("ssse3"))) std::size_t turnPixelsByShuffle(const unsigned char* from, unsigned char* to,
                                                                  std::size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; x + 6 <= pixels; x += 5) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x * 3), _mm_shuffle_epi8(in, order));
    }
    return x;
}

std::size_t turnPixels(const unsigned char* from, unsigned char* to, std::size_t pixels)
{
    static const bool shuffle = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return shuffle ? turnPixelsByShuffle(from, to, pixels) : 0;
}
#else
std::size_t turnPixels(const unsigned char*, unsigned char*, std::size_t)
{
    return 0;
}
#endif

} // namespace

bool memoryPageFits(const TW_IMAGEINFO& info)
{
    if (info.ImageWidth <= 0 || info.ImageLength == 0 || info.ImageLength < -1) return false;
    if (info.Compression != TWCP_NONE || info.Planar) return false;
    bool kind = false;
    switch (info.PixelType) {
    case TWPT_BW:
        kind = info.BitsPerPixel == 1 && info.SamplesPerPixel == 1;
        break;
    case TWPT_GRAY:
        kind = info.BitsPerPixel == 8 && info.SamplesPerPixel == 1;
        break;
    case TWPT_RGB:
        kind = info.BitsPerPixel == 24 && info.SamplesPerPixel == 3 && info.BitsPerSample[0] == 8 &&
               info.BitsPerSample[1] == 8 && info.BitsPerSample[2] == 8;
        break;
    default:
        break;
    }
    if (!kind) return false;
    // A page (or, of unknown length, a row) larger than a BMP file can be.
    const std::uint64_t rows = info.ImageLength > 0 ? std::uint64_t(info.ImageLength) : 1;
    return kFileHeaderSize + kInfoHeaderSize + 1024 + strideOf(info.ImageWidth, info.BitsPerPixel) * rows <=
           kMaxFileBytes;
}

std::uint32_t stripBufferSize(const TW_SETUPMEMXFER& setup, const TW_IMAGEINFO& info)
{
    if (!memoryPageFits(info)) return 0;
    const std::uint64_t row = strideOf(info.ImageWidth, static_cast<unsigned>(info.BitsPerPixel));
    std::uint64_t size = setup.Preferred == TWON_DONTCARE32 || setup.Preferred == 0 ? kDefaultStripBytes
                                                                                      : setup.Preferred;
    std::uint64_t most = setup.MaxBufSize == TWON_DONTCARE32 || setup.MaxBufSize == 0 ? 0xFFFFFFFFull
                                                                                        : setup.MaxBufSize;
    std::uint64_t least = setup.MinBufSize == TWON_DONTCARE32 ? 0 : setup.MinBufSize;
    least = std::max(least, row);
    // A buffer below a row takes nothing; one larger than the source's most
    // only leaves room unused (the sample source says 1 byte at most when
    // asked for less than a row, and fills a row all the same).
    size = std::max(std::min(size, most), least);
    return size > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(size);
}

std::uint64_t MemoryPageWriter::fileSize() const
{
    const std::uint64_t rows = length_ >= 0 ? std::uint64_t(length_) : placed_;
    return pixelsAt_ + rows * stride_;
}

bool MemoryPageWriter::start(const TW_IMAGEINFO& info, TW_UINT16 flavor, const PageFile& file)
{
    broken_ = true;
    if (!memoryPageFits(info)) return false;
    file_ = file;
    width_ = info.ImageWidth;
    length_ = info.ImageLength; // -1 while unknown
    bits_ = static_cast<std::uint16_t>(info.BitsPerPixel);
    rowBytes_ = rowBytesOf(width_, bits_);
    stride_ = strideOf(width_, bits_);
    placed_ = 0;
    bandLow_ = bandHigh_ = 0;

    // The palette: zero is black unless the source says it is white.
    palette_.clear();
    if (bits_ <= 8) {
        const unsigned colours = 1u << bits_;
        const bool zeroIsWhite = flavor == TWPF_VANILLA;
        palette_.assign(colours * 4, 0);
        for (unsigned i = 0; i < colours; ++i) {
            const unsigned level = i * 255 / (colours - 1);
            const auto grey = static_cast<unsigned char>(zeroIsWhite ? 255 - level : level);
            palette_[i * 4] = palette_[i * 4 + 1] = palette_[i * 4 + 2] = grey;
        }
    }
    pixelsAt_ = kFileHeaderSize + kInfoHeaderSize + palette_.size();
    header_.assign(kInfoHeaderSize, 0);
    put32(&header_[0], kInfoHeaderSize);
    put32(&header_[4], static_cast<std::uint32_t>(width_));
    put16(&header_[12], 1);
    put16(&header_[14], bits_);
    put32(&header_[24], perMetre(info.XResolution));
    put32(&header_[28], perMetre(info.YResolution));
    // Colours used and important: the palette's, as sources' own DIBs say.
    put32(&header_[32], static_cast<std::uint32_t>(palette_.size() / 4));
    put32(&header_[36], static_cast<std::uint32_t>(palette_.size() / 4));

    if (length_ > 0) {
        if (pixelsAt_ + std::uint64_t(length_) * stride_ > kMaxFileBytes) return false;
        taken_.assign(static_cast<std::size_t>(length_), false);
        if (!writeHead(static_cast<std::uint32_t>(length_))) return false;
    } else {
        taken_.clear();
    }
    broken_ = false;
    return true;
}

bool MemoryPageWriter::writeHead(std::uint32_t rows)
{
    const std::uint64_t pixelBytes = std::uint64_t(rows) * stride_;
    std::vector<unsigned char> head(static_cast<std::size_t>(pixelsAt_));
    head[0] = 'B';
    head[1] = 'M';
    put32(&head[2], static_cast<std::uint32_t>(pixelsAt_ + pixelBytes));
    put32(&head[10], static_cast<std::uint32_t>(pixelsAt_));
    put32(&header_[8], rows);
    put32(&header_[20], static_cast<std::uint32_t>(pixelBytes));
    std::memcpy(&head[kFileHeaderSize], header_.data(), header_.size());
    if (!palette_.empty()) std::memcpy(&head[kFileHeaderSize + kInfoHeaderSize], palette_.data(), palette_.size());
    return file_.write(0, head.data(), head.size());
}

void MemoryPageWriter::convertRow(const unsigned char* from, unsigned char* to) const
{
    if (bits_ == 24) {
        // Sources give R,G,B; a DIB holds B,G,R.
        const std::size_t turned = turnPixels(from, to, static_cast<std::size_t>(width_));
        from += turned * 3;
        to += turned * 3;
        for (std::size_t x = turned; x < std::size_t(width_); ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    } else {
        std::memcpy(to, from, rowBytes_);
        to += rowBytes_;
    }
    std::memset(to, 0, stride_ - rowBytes_);
}

bool MemoryPageWriter::place(const TW_IMAGEMEMXFER& strip, const unsigned char* data, std::size_t bufferSize)
{
    if (broken_) return false;
    broken_ = true;
    if (strip.Compression != TWCP_NONE || strip.XOffset != 0 || strip.Columns != std::uint32_t(width_))
        return false;
    const std::uint64_t rows = strip.Rows;
    if (rows == 0) {
        broken_ = false;
        return true;
    }
    if (strip.BytesPerRow < rowBytes_ || !data) return false;
    const std::uint64_t bytes = (rows - 1) * strip.BytesPerRow + rowBytes_;
    if (bytes > bufferSize || bytes > strip.BytesWritten) return false;

    const std::uint64_t first = strip.YOffset;
    std::uint64_t fileRow = 0; // the file row of the strip's last (lowest) row
    if (length_ > 0) {
        if (first + rows > std::uint64_t(length_)) return false;
        for (std::uint64_t r = first; r < first + rows; ++r)
            if (taken_[static_cast<std::size_t>(r)]) return false;
        fileRow = std::uint64_t(length_) - first - rows;
    } else {
        // Without a length the rows go top-down in arrival order, and are
        // turned once the last strip has come.
        if (first != placed_ || pixelsAt_ + (first + rows) * stride_ > kMaxFileBytes) return false;
        fileRow = first;
    }

    // The strip's rows in the file's order, bottom-up for a known length,
    // into the band of rows not yet written: a band's worth at a time, so
    // that a strip larger than the band is not held twice.
    const std::size_t most = std::max<std::size_t>(1, kStripBandBytes / stride_);
    for (std::uint64_t done = 0; done < rows;) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(most, rows - done));
        unsigned char* to = bandFor(length_ > 0 ? fileRow + rows - done - count : fileRow + done, count);
        if (!to) return false;
        for (std::size_t r = 0; r < count; ++r) {
            const std::size_t at = length_ > 0 ? count - 1 - r : r;
            convertRow(data + (done + r) * strip.BytesPerRow, to + at * stride_);
        }
        done += count;
    }
    if (length_ > 0)
        for (std::uint64_t r = first; r < first + rows; ++r) taken_[static_cast<std::size_t>(r)] = true;
    placed_ += static_cast<std::uint32_t>(rows);
    broken_ = false;
    return true;
}

unsigned char* MemoryPageWriter::bandFor(std::uint64_t fileRow, std::size_t rows)
{
    // Strips of a known length come top first and each goes just before the
    // one before it in the file; those of an unknown length, just after.
    const bool downward = length_ > 0;
    const std::size_t held = bandHigh_ - bandLow_;
    const bool joins = held > 0 && (downward ? fileRow + rows == bandFileRow_ && rows <= bandLow_
                                             : fileRow == bandFileRow_ + held && rows <= bandRows_ - bandHigh_);
    if (!joins) {
        if (!writeBand()) return nullptr;
        bandRows_ = std::max<std::size_t>(1, kStripBandBytes / stride_);
        if (band_.size() < bandRows_ * stride_) band_.resize(bandRows_ * stride_);
        bandLow_ = bandHigh_ = downward ? bandRows_ : 0;
        bandFileRow_ = fileRow;
    }
    if (downward) {
        bandLow_ -= rows;
        bandFileRow_ = fileRow;
        return &band_[bandLow_ * stride_];
    }
    bandHigh_ += rows;
    return &band_[(bandHigh_ - rows) * stride_];
}

bool MemoryPageWriter::writeBand()
{
    const std::size_t held = bandHigh_ - bandLow_;
    const std::size_t low = bandLow_;
    bandLow_ = bandHigh_ = 0;
    return held == 0 || file_.write(pixelsAt_ + bandFileRow_ * stride_, &band_[low * stride_], held * stride_);
}

bool MemoryPageWriter::reverseRows()
{
    // Rows from both ends swap places a band at a time; the middle row of an
    // odd count stays.
    const std::size_t perBand = std::max<std::size_t>(1, kBmpBandBytes / 2 / stride_);
    std::vector<unsigned char> top, bottom;
    std::uint64_t low = 0, high = placed_;
    while (high - low > 1) {
        const std::uint64_t count = std::min<std::uint64_t>(perBand, (high - low) / 2);
        const std::size_t bytes = static_cast<std::size_t>(count * stride_);
        top.resize(bytes);
        bottom.resize(bytes);
        if (!file_.read(pixelsAt_ + low * stride_, top.data(), bytes) ||
            !file_.read(pixelsAt_ + (high - count) * stride_, bottom.data(), bytes))
            return false;
        for (std::uint64_t i = 0; i < count / 2; ++i) {
            for (std::vector<unsigned char>* band : {&top, &bottom})
                std::swap_ranges(band->begin() + i * stride_, band->begin() + (i + 1) * stride_,
                                 band->begin() + (count - 1 - i) * stride_);
        }
        if (!file_.write(pixelsAt_ + low * stride_, bottom.data(), bytes) ||
            !file_.write(pixelsAt_ + (high - count) * stride_, top.data(), bytes))
            return false;
        low += count;
        high -= count;
    }
    return true;
}

bool MemoryPageWriter::finish()
{
    if (broken_) return false;
    broken_ = true;
    if (!writeBand()) return false;
    std::vector<unsigned char>().swap(band_);
    if (length_ > 0) {
        if (placed_ != std::uint32_t(length_)) return false;
    } else {
        if (placed_ == 0 || !reverseRows() || !writeHead(placed_)) return false;
    }
    return true;
}

} // namespace dovrikna
