// What the fuzz targets share: the code pages a target can be asked to read
// its input in, and a failure that libFuzzer records as a crash with the
// input that caused it.
#ifndef DOVRIKNA_FUZZ_FUZZ_SUPPORT_H
#define DOVRIKNA_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Code page 1252 has no double-byte characters.
inline bool noLeadByte(unsigned char) { return false; }

// Code page 932's lead bytes (Shift JIS).
inline bool shiftJisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

using LeadTest = bool (*)(unsigned char);

// The code page an input's selector byte picks: odd 932, even 1252.
inline LeadTest codePage(std::uint8_t selector) { return (selector & 1) ? shiftJisLeadByte : noLeadByte; }

[[noreturn]] inline void fail(const char* what, long long value)
{
    std::fprintf(stderr, "property broken: %s (value %lld)\n", what, value);
    std::abort();
}

inline void require(bool holds, const char* what, long long value = 0)
{
    if (!holds) fail(what, value);
}

} // namespace fuzz

#endif
