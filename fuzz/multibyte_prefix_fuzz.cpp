// The temp-directory test of getImageFile0: whether a path starts with a
// directory, in code page 1252 or 932. Input: selector, text, NUL, prefix.
#include <cstring>
#include <string>

#include "acquisition/multibyte_prefix.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

namespace {

unsigned char fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// Without double-byte characters: the first strlen(prefix) bytes, ASCII case folded.
bool singleByteReference(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (fold(text[i]) != fold(prefix[i])) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const fuzz::LeadTest lead = fuzz::codePage(data[0]);
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = rest.find('\0');
    const std::string text = rest.substr(0, nul);
    const std::string prefix = nul == std::string::npos ? std::string() : std::string(rest.c_str() + nul + 1);

    const bool matches = multibytePrefixMatches(text.c_str(), prefix.c_str(), lead);
    if (matches) fuzz::require(text.size() >= prefix.size(), "a shorter text matched");
    if (lead == fuzz::noLeadByte)
        fuzz::require(matches == singleByteReference(text, prefix), "1252 differs from the reference", matches);
    // The text always starts with itself, and with any of its own beginnings.
    fuzz::require(multibytePrefixMatches(text.c_str(), text.c_str(), lead), "text is not its own prefix");
    const std::string head = text.substr(0, prefix.size());
    fuzz::require(multibytePrefixMatches(text.c_str(), head.c_str(), lead), "text does not start with its head",
                  static_cast<long long>(head.size()));
    return 0;
}
