// An attachment or recipient list as the Java side sends it: any separator
// byte (0 to 255), read in code page 1252 or 932. Splitting it must give the
// counted tokens, which joined again at the separator give the list back.
#include <cstring>
#include <string>
#include <vector>

#include "desktop/mail_lists.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const unsigned char separator = data[0];
    const fuzz::LeadTest lead = fuzz::codePage(data[1]);
    const std::string original(reinterpret_cast<const char*>(data + 2), size - 2);
    std::vector<char> list(original.c_str(), original.c_str() + original.size() + 1);
    const std::string text = list.data(); // up to the first NUL, as the natives see it

    fuzz::require(splitsAt(separator) == (separator >= 1 && separator <= 0x7F), "splitsAt", separator);
    const std::size_t count = countTokens(list.data(), separator, lead);
    fuzz::require(count >= 1 && count <= text.size() + 1, "token count", static_cast<long long>(count));
    if (!splitsAt(separator)) fuzz::require(count == 1, "a byte that does not split split", separator);

    std::string joined;
    char* cursor = list.data();
    for (std::size_t i = 0; i < count; ++i) {
        fuzz::require(cursor != nullptr, "cursor ended before the counted tokens", static_cast<long long>(i));
        char* token = takeToken(&cursor, separator, lead);
        fuzz::require(findSeparator(token, separator, lead) == nullptr, "a token holds its separator",
                      static_cast<long long>(i));
        if (i) joined += static_cast<char>(separator);
        joined += token;
        fuzz::require(std::strlen(fileNamePart(token)) <= std::strlen(token), "file name longer than its path");
    }
    fuzz::require(cursor == nullptr, "tokens left after the counted ones", static_cast<long long>(count));
    fuzz::require(takeToken(&cursor, separator, lead) == nullptr, "a token after the end");
    fuzz::require(joined == text, "tokens do not rebuild the list", static_cast<long long>(joined.size()));
    return 0;
}
