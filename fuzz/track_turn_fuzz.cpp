// An MP4 or QuickTime file as the thumbnail's turn reads it: any bytes, any
// stated length. No read may ask for bytes outside the stated length, the
// reads stay within the box budget, and the answer is a quarter count.
#include <cstring>
#include <vector>

#include "desktop/track_turn.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

namespace {

struct File {
    const std::uint8_t* data;
    std::size_t bytes;     // what the file holds
    std::uint64_t size;    // what its length is said to be
    long long reads = 0;
};

std::size_t readAt(void* context, std::uint64_t offset, unsigned char* to, std::size_t count)
{
    auto* file = static_cast<File*>(context);
    ++file->reads;
    fuzz::require(offset <= file->size && count <= file->size - offset, "read outside the file",
                  static_cast<long long>(offset));
    if (offset >= file->bytes) return 0;
    const std::size_t got = count < file->bytes - offset ? count : file->bytes - offset;
    std::memcpy(to, file->data + offset, got);
    return got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    // The first byte says by how much the stated length overstates the bytes
    // (a file cut short, or grown since its length was read).
    File file{data + 1, size - 1, size - 1 + data[0] * 64u};
    const int turns = firstVideoTrackQuarterTurns({&readAt, &file, file.size});
    fuzz::require(turns >= 0 && turns <= 3, "not a quarter count", turns);
    // A header read or two per box, and the three reads of a track's boxes.
    fuzz::require(file.reads <= 2LL * kMaxTrackBoxes + 8, "reads past the budget", file.reads);
    return 0;
}
