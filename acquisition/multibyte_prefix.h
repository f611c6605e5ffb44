// Whether a path begins with a directory path, compared as multibyte text of
// an ANSI code page without regard to letter case.
#ifndef DOVRIKNA_ACQUISITION_MULTIBYTE_PREFIX_H
#define DOVRIKNA_ACQUISITION_MULTIBYTE_PREFIX_H

namespace dovrikna {

// True when the byte is the first of a double-byte character in the code page
// the text is written in (IsDBCSLeadByte for the ANSI code page).
using LeadByteTest = bool (*)(unsigned char byte);

// True when the first strlen(prefix) bytes of text equal prefix, walking both
// as characters the way _mbsnbicmp does: a lead byte and the byte after it form
// one character, which is compared as a whole, so a trail byte that looks like
// an ASCII letter is never folded and never matched against half of another
// character. Letter case is folded for the single-byte ASCII letters A-Z only;
// double-byte characters (full-width letters included) must be equal byte for
// byte, and single-byte characters above 0x7F are compared exactly.
// A text shorter than the prefix does not match. A lead byte whose partner is
// past the end of the prefix, or is the terminator, counts as a character of
// its own.
bool multibytePrefixMatches(const char* text, const char* prefix, LeadByteTest isLeadByte);

} // namespace dovrikna

#endif
