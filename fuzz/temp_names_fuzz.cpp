// The names an enumeration of the temp folder hands back: any bytes. The
// number read from a name must be the one whose name tempFileName writes, and
// the lowest free number must be the first one no name holds.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "acquisition/transfer_rules.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

namespace {

std::string folded(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    static const char* const extensions[] = {".tif", ".bmp", ".jpg", ".png", ".tmp", ""};
    const char* extension = extensions[data[0] % 6];
    // Names separated by NUL bytes, as the enumeration's records hold them.
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<int> taken;
    std::set<int> numbers;
    for (std::size_t start = 0; start <= rest.size();) {
        std::size_t end = rest.find('\0', start);
        if (end == std::string::npos) end = rest.size();
        const std::string name = rest.substr(start, end - start);
        const int number = tempFileNumber(name.c_str(), extension);
        fuzz::require(number >= -1, "number below -1", number);
        if (number >= 0) {
            const std::string written = tempFileName("", number, extension);
            fuzz::require(folded(written) == folded(name), "name is not the one its number gives", number);
            numbers.insert(number);
        }
        taken.push_back(number);
        start = end + 1;
    }
    int expected = 0;
    while (numbers.count(expected)) ++expected;
    fuzz::require(lowestFreeNumber(taken) == expected, "lowest free number", expected);
    return 0;
}
