// How an MP4 or QuickTime file asks its first video track to be turned when
// shown: the track header's matrix ('tkhd' in moov/trak, the track told as
// video by moov/trak/mdia/hdlr). Phones store an upright film as a landscape
// picture with a matrix that turns it by a quarter. No Windows header: the
// reading builds natively under the sanitizers and the fuzzer.
//
// The file is read through a callback, box header by box header: only the
// boxes on that path are entered, at most kMaxTrackBoxes headers are read,
// and nothing outside [0, size) is asked for.
#ifndef DOVRIKNA_DESKTOP_TRACK_TURN_H
#define DOVRIKNA_DESKTOP_TRACK_TURN_H

#include <cstddef>
#include <cstdint>

namespace dovrikna {

// How many box headers one reading may look at, over all levels.
constexpr int kMaxTrackBoxes = 4096;

// Reads up to `bytes` bytes at `offset` into `to`; the count read (less at
// the end of the file or on a failure).
using ReadAtFn = std::size_t (*)(void* context, std::uint64_t offset, unsigned char* to, std::size_t bytes);

struct TrackFile {
    ReadAtFn read;
    void* context;
    std::uint64_t size; // the file's length in bytes
};

// Clockwise quarter turns (0 to 3) that the matrix's 2 x 2 part makes: only
// the four plain turns count, at any scale; a mirror or a shear is 0.
// The numbers are tkhd's a, b, c, d in their 16.16 fixed point.
int quarterTurnsOfMatrix(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d);

// The first video track's turn, 0 to 3 clockwise quarters; 0 for a file
// without one (not an MP4 or QuickTime file, no video track, a box that
// overruns its parent or the file, too many boxes).
int firstVideoTrackQuarterTurns(const TrackFile& file);

// Clockwise quarter turns from Media Foundation's MF_MT_VIDEO_ROTATION, which
// tells in degrees how far the content was turned counter-clockwise; -1 for
// a value that is no quarter turn.
int quarterTurnsOfRotation(std::uint32_t counterClockwiseDegrees);

} // namespace dovrikna

#endif
