// The turn an MP4 or QuickTime file asks for its first video track, read
// from box trees made here byte by byte.
#include "desktop/track_turn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace dovrikna {
namespace {

using Bytes = std::vector<unsigned char>;

void put32(Bytes& to, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) to.push_back(static_cast<unsigned char>(value >> shift));
}

Bytes box(const char* type, const Bytes& body)
{
    Bytes out;
    put32(out, static_cast<std::uint32_t>(8 + body.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

constexpr std::int32_t kOne = 0x10000; // 1.0 in 16.16

// A tkhd of this version with the matrix's a, b, c, d; u, v, w, x, y as a
// muxer writes them.
Bytes trackHeader(int version, std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d)
{
    Bytes body(version == 1 ? 36 : 24, 0x11); // version, flags, times, ids, duration
    body[0] = static_cast<unsigned char>(version);
    body.insert(body.end(), 16, 0);
    for (std::int32_t value : {a, b, 0, c, d, 0, 0, 0, 0x40000000})
        put32(body, static_cast<std::uint32_t>(value));
    put32(body, 480u << 16);
    put32(body, 272u << 16);
    return box("tkhd", body);
}

Bytes track(const Bytes& header, const char* handler)
{
    Bytes hdlr(8, 0);
    hdlr.insert(hdlr.end(), handler, handler + 4);
    hdlr.insert(hdlr.end(), 13, 0);
    return box("trak", join({header, box("mdia", join({box("mdhd", Bytes(24, 0)), box("hdlr", hdlr)}))}));
}

Bytes video(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d)
{
    return track(trackHeader(0, a, b, c, d), "vide");
}

const Bytes kFileType = box("ftyp", Bytes{'i', 's', 'o', 'm', 0, 0, 2, 0});

// Reads from memory, short past its bytes; every ask outside the stated
// size is counted as a fault.
struct Memory {
    Bytes bytes;
    std::uint64_t size;
    int outside = 0;
    static std::size_t read(void* context, std::uint64_t offset, unsigned char* to, std::size_t count)
    {
        auto* memory = static_cast<Memory*>(context);
        if (offset > memory->size || count > memory->size - offset) ++memory->outside;
        if (offset >= memory->bytes.size()) return 0;
        const std::size_t got = std::min<std::size_t>(count, memory->bytes.size() - offset);
        std::memcpy(to, memory->bytes.data() + offset, got);
        return got;
    }
};

int turnsOf(const Bytes& file, std::uint64_t statedSize = 0)
{
    Memory memory{file, statedSize ? statedSize : file.size()};
    const int turns = firstVideoTrackQuarterTurns({&Memory::read, &memory, memory.size});
    EXPECT_EQ(0, memory.outside) << "read outside the file";
    return turns;
}

TEST(TrackTurn, EachPlainTurnOfTheMatrixAtAnyScaleAndNothingElse)
{
    struct {
        std::int32_t a, b, c, d;
        int turns;
    } const cases[] = {
        {kOne, 0, 0, kOne, 0},          {0, kOne, -kOne, 0, 1},         {-kOne, 0, 0, -kOne, 2},
        {0, -kOne, kOne, 0, 3},         {0, 2 * kOne, -kOne / 2, 0, 1}, {-kOne, 0, 0, kOne, 0}, // mirrored
        {kOne, 0, 0, -kOne, 0},         {0, kOne, kOne, 0, 0},          {kOne, kOne, -kOne, kOne, 0}, // 45°
        {0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " " + std::to_string(c.b) + " " + std::to_string(c.c) + " " +
                     std::to_string(c.d));
        EXPECT_EQ(c.turns, quarterTurnsOfMatrix(c.a, c.b, c.c, c.d));
        EXPECT_EQ(c.turns, turnsOf(join({kFileType, box("moov", video(c.a, c.b, c.c, c.d))})));
    }
}

TEST(TrackTurn, TheFirstVideoTracksHeaderIsFoundWhereverTheFilePutsIt)
{
    Bytes longSized = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 116};
    longSized.resize(116, 0x77);
    Bytes runsToEnd = box("moov", video(0, kOne, -kOne, 0));
    runsToEnd[3] = 0;
    Bytes manyBoxes = kFileType;
    for (int i = 0; i < 1000; ++i) manyBoxes = join({manyBoxes, box("free", {})});
    const Bytes oneTurn = box("moov", video(0, kOne, -kOne, 0));
    struct {
        const char* what;
        Bytes file;
        int turns;
    } const cases[] = {
        {"an audio track first", join({kFileType, box("moov", join({track(trackHeader(0, 0, kOne, -kOne, 0), "soun"),
                                                                    video(-kOne, 0, 0, -kOne)}))}),
         2},
        {"a version 1 header", join({box("moov", track(trackHeader(1, 0, -kOne, kOne, 0), "vide"))}), 3},
        {"the movie box after the media data", join({kFileType, box("mdat", Bytes(5000, 0)), oneTurn}), 1},
        {"after a box with a 64-bit size", join({kFileType, longSized, oneTurn}), 1},
        {"a movie box that runs to the end of the file", join({kFileType, runsToEnd}), 1},
        {"after a thousand boxes", join({manyBoxes, oneTurn}), 1},
        {"the second of two video tracks", join({box("moov", join({video(kOne, 0, 0, kOne), video(0, kOne, -kOne, 0)}))}),
         0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.turns, turnsOf(c.file)) << c.what;
}

TEST(TrackTurn, FilesThatCannotBeReadToTheMatrixAreNotTurned)
{
    const Bytes turned = box("moov", video(0, kOne, -kOne, 0));
    Bytes tooManyBoxes = kFileType;
    for (int i = 0; i < kMaxTrackBoxes; ++i) tooManyBoxes = join({tooManyBoxes, box("free", {})});
    Bytes shortHeader = trackHeader(0, 0, kOne, -kOne, 0);
    shortHeader.resize(shortHeader.size() - 45);
    shortHeader[3] = static_cast<unsigned char>(shortHeader.size());
    Bytes overrun = turned;
    overrun[3] += 1;
    Bytes tooSmall = join({box("free", {}), turned});
    tooSmall[3] = 7;
    Bytes version2 = trackHeader(0, 0, kOne, -kOne, 0);
    version2[8] = 2;
    struct {
        const char* what;
        Bytes file;
        std::uint64_t statedSize; // 0: the bytes' own
    } const cases[] = {
        {"no movie box", join({kFileType, box("mdat", Bytes(100, 0))}), 0},
        {"no video track", box("moov", track(trackHeader(0, 0, kOne, -kOne, 0), "soun")), 0},
        {"a video track without its header", box("moov", track({}, "vide")), 0},
        {"a header too short for its matrix", box("moov", track(shortHeader, "vide")), 0},
        {"a header of an unknown version", box("moov", track(version2, "vide")), 0},
        {"a movie box longer than the file", overrun, 0},
        {"a box shorter than its own header", tooSmall, 0},
        {"the movie box past more boxes than are read", join({tooManyBoxes, turned}), 0},
        {"a file cut short inside its track", Bytes(turned.begin(), turned.end() - 60), turned.size()},
        {"nothing", {}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(0, turnsOf(c.file, c.statedSize)) << c.what;
    EXPECT_EQ(0, firstVideoTrackQuarterTurns({nullptr, nullptr, 100}));
}

TEST(TrackTurn, MediaFoundationsCounterClockwiseDegreesAreClockwiseQuarters)
{
    const std::pair<std::uint32_t, int> cases[] = {{0, 0}, {90, 1}, {180, 2}, {270, 3}, {45, -1}, {360, -1}, {~0u, -1}};
    for (const auto& c : cases) EXPECT_EQ(c.second, quarterTurnsOfRotation(c.first)) << c.first;
}

} // namespace
} // namespace dovrikna
