// A frame as a media detector hands it over and a caller's arrays: the fit
// decision, then the rows' unpadding and the copy it allows, in a buffer and
// into an array of exactly the sizes given, so an overrun is the sanitizer's
// to find. Also the cache key and the locale's code page text, with any bytes.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "desktop/thumbnail_fit.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

namespace {

template <typename T> T take(const std::uint8_t*& data, std::size_t& size)
{
    T value{};
    if (size >= sizeof value) {
        std::memcpy(&value, data, sizeof value);
        data += sizeof value;
        size -= sizeof value;
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto width = take<std::int32_t>(data, size);
    const auto height = take<std::int32_t>(data, size);
    const auto statedWidth = take<std::int32_t>(data, size);
    const auto statedHeight = take<std::int32_t>(data, size);
    // Sizes up to 64 KiB, so that the blocks can be allocated on every run.
    const std::size_t bufferBytes = take<std::uint32_t>(data, size) % (1u << 16);
    const std::size_t arrayBytes = take<std::uint32_t>(data, size) % (1u << 16);

    // Rows padded to 4 bytes, in 64 bits.
    const std::uint64_t rowsBytes =
        ((3ull * static_cast<std::uint64_t>(width < 0 ? 0 : width) + 3) & ~3ull) * static_cast<std::uint64_t>(height);
    if (frameIsReadable(bufferBytes, width, height)) {
        fuzz::require(width >= 0 && height >= 0, "negative size readable", width);
        fuzz::require(kFrameHeaderBytes + rowsBytes <= bufferBytes, "rows past their buffer",
                      static_cast<long long>(bufferBytes));
        // A block of exactly the size given, left unfilled: only its bounds matter.
        std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[bufferBytes]);
        unpadFrameRows(buffer.get() + kFrameHeaderBytes, width, height);
        const FitDecision fit = fitFrame(width, height, statedWidth, statedHeight, arrayBytes);
        fuzz::require(fit.result == (fit.copy ? 0 : width), "result", fit.result);
        if (fit.copy) {
            fuzz::require(width <= statedWidth && height <= statedHeight, "copied a frame larger than stated", width);
            std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[arrayBytes]);
            std::memcpy(pixels.get(), buffer.get() + kFrameHeaderBytes, framePixelBytes(width, height));
        }
    } else {
        fuzz::require(bufferBytes < kFrameHeaderBytes || width < 0 || height < 0 ||
                          rowsBytes > bufferBytes - kFrameHeaderBytes,
                      "a readable frame refused", width);
    }

    // The rest: a path for the cache key, and a code page text of 7 bytes
    // with no terminator of its own.
    const std::string path(reinterpret_cast<const char*>(data), size);
    const char* cpath = path.c_str();
    const FileStamp stamp{bufferBytes, arrayBytes}, changed{bufferBytes, arrayBytes + 1};
    ThumbnailKey key;
    fuzz::require(!key.matches(cpath, stamp), "an empty key matched");
    key.assign(cpath, stamp);
    const bool fits = std::strlen(cpath) < ThumbnailKey::kMaxPath;
    fuzz::require(key.held() == fits && key.matches(cpath, stamp) == fits, "key after assign",
                  static_cast<long long>(std::strlen(cpath)));
    fuzz::require(!key.matches(cpath, changed), "a changed file matched");
    std::string other = path.substr(0, std::strlen(cpath)) + "x";
    fuzz::require(!key.matches(other.c_str(), stamp), "another path matched");
    key.clear();
    fuzz::require(!key.matches(cpath, stamp), "a cleared key matched");
    if (size >= 7) {
        std::vector<char> text(data, data + 7);
        (void)parseAnsiCodePage(text.data(), text.size());
    }
    return 0;
}
