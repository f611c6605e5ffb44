#include "acquisition/multibyte_prefix.h"

#include <cstring>

namespace dovrikna {

namespace {

unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The byte length of the character at position i of s, within limit bytes.
size_t characterLength(const unsigned char* s, size_t i, size_t limit, LeadByteTest isLeadByte)
{
    if (isLeadByte(s[i]) && i + 1 < limit && s[i + 1] != 0) return 2;
    return 1;
}

} // namespace

bool multibytePrefixMatches(const char* text, const char* prefix, LeadByteTest isLeadByte)
{
    const auto* a = reinterpret_cast<const unsigned char*>(text);
    const auto* b = reinterpret_cast<const unsigned char*>(prefix);
    const size_t limit = std::strlen(prefix);

    size_t i = 0;
    while (i < limit) {
        if (a[i] == 0) return false; // the text ends inside the prefix
        const size_t lengthA = characterLength(a, i, limit, isLeadByte);
        const size_t lengthB = characterLength(b, i, limit, isLeadByte);
        if (lengthA != lengthB) return false;
        if (lengthA == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (foldAscii(a[i]) != foldAscii(b[i])) {
            return false;
        }
        i += lengthA;
    }
    return true;
}

} // namespace dovrikna
