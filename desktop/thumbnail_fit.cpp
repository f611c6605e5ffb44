#include "desktop/thumbnail_fit.h"

#include <cstring>

namespace dovrikna {

bool ThumbnailKey::matches(const char* path, const FileStamp& stamp) const
{
    return held_ && stamp_.size == stamp.size && stamp_.writeTime == stamp.writeTime
           && std::strcmp(path_, path) == 0;
}

void ThumbnailKey::assign(const char* path, const FileStamp& stamp)
{
    const std::size_t length = std::strlen(path);
    if (length >= kMaxPath) {
        clear();
        return;
    }
    std::memcpy(path_, path, length + 1);
    stamp_ = stamp;
    held_ = true;
}

void ThumbnailKey::clear()
{
    std::memset(path_, 0, sizeof path_);
    stamp_ = FileStamp();
    held_ = false;
}

namespace {

// A row's bytes padded to 4, in 64 bits: any 32-bit width's row fits.
std::uint64_t paddedRowBytes(std::int32_t width)
{
    return (3ull * static_cast<std::uint64_t>(width) + 3u) & ~std::uint64_t{3};
}

} // namespace

bool frameIsReadable(std::size_t bufferBytes, std::int32_t width, std::int32_t height)
{
    if (bufferBytes < kFrameHeaderBytes || width < 0 || height < 0) return false;
    // (3 x (2^31 - 1) + 3) x (2^31 - 1) does not overflow 64 bits.
    const std::uint64_t rows = paddedRowBytes(width) * static_cast<std::uint64_t>(height);
    return rows <= bufferBytes - kFrameHeaderBytes;
}

std::size_t framePixelBytes(std::int32_t width, std::int32_t height)
{
    return 3u * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

void unpadFrameRows(unsigned char* pixels, std::int32_t width, std::int32_t height)
{
    const std::size_t rowBytes = 3u * static_cast<std::size_t>(width);
    const std::size_t stride = static_cast<std::size_t>(paddedRowBytes(width));
    if (stride == rowBytes) return;
    // Row r moves from r x stride down to r x rowBytes: never past a row not yet moved.
    for (std::size_t row = 1; row < static_cast<std::size_t>(height); ++row)
        std::memmove(pixels + row * rowBytes, pixels + row * stride, rowBytes);
}

FitDecision fitFrame(std::int32_t width, std::int32_t height, std::int32_t statedWidth,
                     std::int32_t statedHeight, std::size_t pixelArrayBytes)
{
    const bool fits = width >= 0 && height >= 0 && width <= statedWidth && height <= statedHeight
                      && framePixelBytes(width, height) <= pixelArrayBytes;
    return fits ? FitDecision{true, 0} : FitDecision{false, width};
}

CodePageMethod chooseCodePageMethod(unsigned long platformId, unsigned long majorVersion)
{
    constexpr unsigned long kPlatformNt = 2; // VER_PLATFORM_WIN32_NT
    return platformId == kPlatformNt && majorVersion >= 5 ? CodePageMethod::ThreadAcp
                                                          : CodePageMethod::ThreadLocale;
}

unsigned parseAnsiCodePage(const char* text, std::size_t capacity)
{
    // The locale data holds digits only; the arithmetic is unsigned so that
    // any other byte gives some number, never undefined behaviour.
    unsigned value = 0;
    for (std::size_t i = 0; i < capacity && text[i] != '\0'; ++i)
        value = value * 10u + static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0';
    return value;
}

} // namespace dovrikna
