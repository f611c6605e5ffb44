#include "desktop/mail_lists.h"

#include <cstring>

namespace dovrikna {

bool splitsAt(unsigned char separator)
{
    return separator >= 0x01 && separator <= 0x7F;
}

std::vector<std::u16string> splitWideList(const std::u16string& list, unsigned char separator)
{
    std::vector<std::u16string> tokens;
    std::size_t start = 0;
    for (std::size_t end; splitsAt(separator) && (end = list.find(char16_t(separator), start)) != list.npos;
         start = end + 1)
        tokens.push_back(list.substr(start, end - start));
    tokens.push_back(list.substr(start));
    return tokens;
}

char* findSeparator(char* list, unsigned char separator, LeadByteTest isLeadByte)
{
    if (!splitsAt(separator)) return nullptr;
    for (char* p = list; *p != '\0';) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (isLeadByte(byte)) {
            if (p[1] == '\0') return nullptr; // a lead byte without its second byte ends the list
            p += 2;
            continue;
        }
        if (byte == separator) return p;
        ++p;
    }
    return nullptr;
}

std::size_t countTokens(char* list, unsigned char separator, LeadByteTest isLeadByte)
{
    std::size_t count = 1;
    for (char* found = findSeparator(list, separator, isLeadByte); found;
         found = findSeparator(found + 1, separator, isLeadByte))
        ++count;
    return count;
}

char* takeToken(char** cursor, unsigned char separator, LeadByteTest isLeadByte)
{
    char* token = *cursor;
    if (!token) return nullptr;
    char* end = findSeparator(token, separator, isLeadByte);
    if (end) {
        *end = '\0';
        *cursor = end + 1;
    } else {
        *cursor = nullptr;
    }
    return token;
}

const char* fileNamePart(const char* path)
{
    for (std::size_t i = std::strlen(path); i > 0; --i)
        if (path[i - 1] == '\\' || path[i - 1] == ':') return path + i;
    return path;
}

} // namespace dovrikna
