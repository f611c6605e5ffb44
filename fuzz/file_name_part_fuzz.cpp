// The file-name part of an attachment path: what follows the last '\' or ':',
// byte by byte from the end, whatever the code page (a 0x5C trail byte of code
// page 932 counts as a backslash too, lead bytes at the very end included).
#include <cstring>
#include <string>

#include "desktop/mail_lists.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    // The code page only shapes the input: a 932 input keeps pairs of lead and
    // trail bytes, and may end in a lone lead byte.
    std::string path;
    const fuzz::LeadTest lead = fuzz::codePage(data[0]);
    for (std::size_t i = 1; i < size && data[i] != 0; ++i) {
        path += static_cast<char>(data[i]);
        if (lead(data[i]) && i + 1 < size && data[i + 1] != 0) path += static_cast<char>(data[++i]);
    }
    const char* name = fileNamePart(path.c_str());
    const std::size_t offset = static_cast<std::size_t>(name - path.c_str());
    fuzz::require(name >= path.c_str() && offset <= path.size(), "name outside the path",
                  static_cast<long long>(offset));
    fuzz::require(std::strpbrk(name, "\\:") == nullptr, "a separator in the name", static_cast<long long>(offset));
    fuzz::require(offset == 0 || path[offset - 1] == '\\' || path[offset - 1] == ':',
                  "name does not follow a separator", static_cast<long long>(offset));
    if (offset == 0) fuzz::require(path.find_first_of("\\:") == std::string::npos, "separator skipped");
    return 0;
}
