// One line of the conversation log, built in a fixed buffer: no allocation
// and no runtime library call, so that a line can be made anywhere, under
// the loader lock too. Text beyond the capacity is cut off.
#ifndef DOVRIKNA_FRAME_LOG_LINE_H
#define DOVRIKNA_FRAME_LOG_LINE_H

#include <cstddef>

namespace dovrikna {

class LogLine {
public:
    static constexpr std::size_t kCapacity = 1024;

    LogLine& text(const char* text);
    // Between double quotes, at most `limit` bytes of it (fields of fixed size
    // may lack a terminator); control characters become '?'.
    LogLine& quoted(const char* text, std::size_t limit = kCapacity);
    LogLine& number(unsigned long long value);
    LogLine& signedNumber(long long value);
    LogLine& hex(unsigned long long value); // 0x...
    LogLine& digits(unsigned value, int width); // zero-padded decimal

    const char* c_str() const { return buffer_; }
    std::size_t size() const { return length_; }

private:
    void put(char c);
    char buffer_[kCapacity + 1] = {};
    std::size_t length_ = 0;
};

} // namespace dovrikna

#endif
