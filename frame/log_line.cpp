#include "frame/log_line.h"

namespace dovrikna {

void LogLine::put(char c)
{
    if (length_ < kCapacity) buffer_[length_++] = c;
    buffer_[length_] = '\0';
}

LogLine& LogLine::text(const char* text)
{
    for (; text && *text; ++text) put(*text);
    return *this;
}

LogLine& LogLine::quoted(const char* text, std::size_t limit)
{
    if (!text) return this->text("null");
    put('"');
    for (std::size_t i = 0; i < limit && text[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        put(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
    }
    put('"');
    return *this;
}

LogLine& LogLine::number(unsigned long long value)
{
    char reversed[24];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (count) put(reversed[--count]);
    return *this;
}

LogLine& LogLine::signedNumber(long long value)
{
    if (value >= 0) return number(static_cast<unsigned long long>(value));
    put('-');
    return number(0ULL - static_cast<unsigned long long>(value));
}

LogLine& LogLine::hex(unsigned long long value)
{
    char reversed[20];
    int count = 0;
    do {
        reversed[count++] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    } while (value);
    put('0');
    put('x');
    while (count) put(reversed[--count]);
    return *this;
}

LogLine& LogLine::digits(unsigned value, int width)
{
    char reversed[12];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value && count < 12);
    while (count < width && count < 12) reversed[count++] = '0';
    while (count) put(reversed[--count]);
    return *this;
}

} // namespace dovrikna
