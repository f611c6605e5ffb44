#include "desktop/track_turn.h"

namespace dovrikna {

namespace {

std::uint32_t bigEndian32(const unsigned char* at)
{
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

constexpr std::uint32_t fourCc(const char (&name)[5])
{
    return (std::uint32_t(std::uint8_t(name[0])) << 24) | (std::uint32_t(std::uint8_t(name[1])) << 16)
           | (std::uint32_t(std::uint8_t(name[2])) << 8) | std::uint32_t(std::uint8_t(name[3]));
}

struct Box {
    std::uint32_t type = 0;
    std::uint64_t body = 0; // where its contents start
    std::uint64_t end = 0;  // one past its last byte
};

// Walks the boxes that lie one after another in [begin, end), sharing one
// budget of header reads among all levels.
class BoxWalk {
public:
    BoxWalk(const TrackFile& file, int& budget, std::uint64_t begin, std::uint64_t end)
        : file_(file), budget_(budget), next_(begin), end_(end)
    {
    }

    // The next box, false at the end, at a box that does not fit inside the
    // range (nothing after it can be trusted) or when the budget is spent.
    bool next(Box& box)
    {
        if (end_ - next_ < 8 || budget_ <= 0) return false;
        --budget_;
        unsigned char header[16];
        if (!read(next_, header, 8)) return false;
        std::uint64_t size = bigEndian32(header);
        std::uint64_t headerBytes = 8;
        if (size == 1) { // a 64-bit size follows the type
            if (end_ - next_ < 16 || !read(next_ + 8, header + 8, 8)) return false;
            size = (std::uint64_t{bigEndian32(header + 8)} << 32) | bigEndian32(header + 12);
            headerBytes = 16;
        } else if (size == 0) { // the box runs to the end of its parent
            size = end_ - next_;
        }
        if (size < headerBytes || size > end_ - next_) return false;
        box.type = bigEndian32(header + 4);
        box.body = next_ + headerBytes;
        box.end = next_ + size;
        next_ = box.end;
        return true;
    }

    bool find(std::uint32_t type, Box& box)
    {
        while (next(box))
            if (box.type == type) return true;
        return false;
    }

    bool read(std::uint64_t offset, unsigned char* to, std::size_t bytes) const
    {
        return offset <= file_.size && bytes <= file_.size - offset
               && file_.read(file_.context, offset, to, bytes) == bytes;
    }

private:
    const TrackFile& file_;
    int& budget_;
    std::uint64_t next_;
    std::uint64_t end_;
};

// The handler type in a trak's mdia/hdlr: 'vide' for a video track.
bool isVideoTrack(const TrackFile& file, int& budget, const Box& track)
{
    Box media, handler;
    if (!BoxWalk(file, budget, track.body, track.end).find(fourCc("mdia"), media)) return false;
    BoxWalk walk(file, budget, media.body, media.end);
    if (!walk.find(fourCc("hdlr"), handler)) return false;
    unsigned char fields[12]; // version and flags, pre_defined, handler_type
    return handler.end - handler.body >= sizeof fields && walk.read(handler.body, fields, sizeof fields)
           && bigEndian32(fields + 8) == fourCc("vide");
}

// The turn of a tkhd box's matrix; -1 when the box is too short for one.
int headerQuarterTurns(const TrackFile& file, int& budget, const Box& track)
{
    Box header;
    BoxWalk walk(file, budget, track.body, track.end);
    if (!walk.find(fourCc("tkhd"), header)) return -1;
    unsigned char version = 0;
    if (header.end - header.body < 1 || !walk.read(header.body, &version, 1) || version > 1) return -1;
    // Version and flags, then times, track id and duration (32-bit in
    // version 0, some 64-bit in version 1), then 16 bytes of layer, group,
    // volume and reserved fields, then the 3 x 3 matrix a, b, u, c, d, v, x, y, w.
    const std::uint64_t matrixAt = 4 + (version == 1 ? 32 : 20) + 16;
    unsigned char matrix[20];
    if (header.end - header.body < matrixAt + 36 || !walk.read(header.body + matrixAt, matrix, sizeof matrix))
        return -1;
    auto at = [&](int index) { return static_cast<std::int32_t>(bigEndian32(matrix + 4 * index)); };
    return quarterTurnsOfMatrix(at(0), at(1), at(3), at(4));
}

} // namespace

int quarterTurnsOfMatrix(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d)
{
    // A point (x, y) of the picture is shown at (a x + c y, b x + d y), with
    // y growing downwards: b > 0 and c < 0 take the x axis down and the y
    // axis left, a clockwise quarter.
    if (b == 0 && c == 0) {
        if (a > 0 && d > 0) return 0;
        if (a < 0 && d < 0) return 2;
    } else if (a == 0 && d == 0) {
        if (b > 0 && c < 0) return 1;
        if (b < 0 && c > 0) return 3;
    }
    return 0;
}

int firstVideoTrackQuarterTurns(const TrackFile& file)
{
    if (!file.read) return 0;
    int budget = kMaxTrackBoxes;
    Box movie, track;
    if (!BoxWalk(file, budget, 0, file.size).find(fourCc("moov"), movie)) return 0;
    BoxWalk tracks(file, budget, movie.body, movie.end);
    while (tracks.find(fourCc("trak"), track)) {
        if (!isVideoTrack(file, budget, track)) continue;
        const int turns = headerQuarterTurns(file, budget, track);
        return turns < 0 ? 0 : turns;
    }
    return 0;
}

int quarterTurnsOfRotation(std::uint32_t counterClockwiseDegrees)
{
    // Content turned counter-clockwise by a quarter is shown by turning it
    // clockwise by a quarter.
    switch (counterClockwiseDegrees) {
    case 0: return 0;
    case 90: return 1;
    case 180: return 2;
    case 270: return 3;
    default: return -1;
    }
}

} // namespace dovrikna
