#include "frame/java_text.h"

namespace dovrikna {

bool isAsciiText(const char* bytes)
{
    for (const char* p = bytes; *p != '\0'; ++p)
        if (static_cast<unsigned char>(*p) > 0x7F) return false;
    return true;
}

std::string modifiedUtf8(const std::u16string& text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t unit : text) {
        if (unit != 0 && unit < 0x80) {
            bytes += static_cast<char>(unit);
        } else if (unit < 0x800) {
            bytes += static_cast<char>(0xC0 | (unit >> 6));
            bytes += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            bytes += static_cast<char>(0xE0 | (unit >> 12));
            bytes += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return bytes;
}

} // namespace dovrikna
