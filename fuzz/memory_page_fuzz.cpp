// A memory transfer as a source makes it: the page's DAT_IMAGEINFO and then
// strip records with their bytes, all from the input, placed into a file in
// memory. Nothing is read beyond a strip's buffer or written beyond the file
// the page can have; a page that finishes has every row of its length and
// the size its head says.
#include <cstring>
#include <vector>

#include "pages/memory_page.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TW_IMAGEINFO info;
    if (size < sizeof info + 2) return 0;
    std::memcpy(&info, data, sizeof info);
    // Pages small enough for a run: at most 64 columns and rows.
    info.ImageWidth = info.ImageWidth & 63;
    if (info.ImageLength != -1) info.ImageLength &= 63;
    const TW_UINT16 flavor = data[sizeof info];
    const std::size_t bufferSize = 1 + data[sizeof info + 1] * 4u;
    data += sizeof info + 2;
    size -= sizeof info + 2;

    std::vector<unsigned char> file;
    PageFile page;
    page.write = [&](std::uint64_t offset, const unsigned char* bytes, std::size_t count) {
        fuzz::require(offset + count <= (1u << 20), "a write beyond any page of 64 x 64", static_cast<long long>(offset));
        if (file.size() < offset + count) file.resize(offset + count);
        std::memcpy(file.data() + offset, bytes, count);
        return true;
    };
    page.read = [&](std::uint64_t offset, unsigned char* bytes, std::size_t count) {
        if (offset + count > file.size()) return false;
        std::memcpy(bytes, file.data() + offset, count);
        return true;
    };
    MemoryPageWriter writer;
    if (!writer.start(info, flavor, page)) return 0;
    bool placing = true;
    while (placing && size >= sizeof(TW_IMAGEMEMXFER)) {
        TW_IMAGEMEMXFER strip;
        std::memcpy(&strip, data, sizeof strip);
        data += sizeof strip;
        size -= sizeof strip;
        const std::size_t count = std::min(size, bufferSize);
        std::vector<unsigned char> buffer(data, data + count); // exactly the buffer: reads past it are found
        data += count;
        size -= count;
        placing = writer.place(strip, buffer.data(), buffer.size());
    }
    if (!placing || !writer.finish()) return 0;
    fuzz::require(file.size() == writer.fileSize(), "the file's size", static_cast<long long>(file.size()));
    fuzz::require(info.ImageLength == -1 || writer.rowsPlaced() == std::uint32_t(info.ImageLength),
                  "every row of the length", writer.rowsPlaced());
    std::uint32_t stated = 0;
    std::memcpy(&stated, file.data() + 2, 4);
    fuzz::require(stated == file.size(), "the size the head states", stated);
    return 0;
}
