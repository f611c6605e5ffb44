#include <gtest/gtest.h>

#include <string>

#include "frame/java_text.h"

namespace {

// What GetStringUTFChars gives for each string: modified UTF-8, with U+0000
// as two bytes and each half of a surrogate pair as three.
TEST(JavaText, ModifiedUtf8OfEachKindOfCharacter)
{
    const struct {
        std::u16string text;
        std::string bytes;
        bool ascii;
    } cases[] = {
        {u"C:\\a.avi", "C:\\a.avi", true},
        {u"", "", true},
        {u"caf\x00E9", "caf\xC3\xA9", false},
        {u"\x65E5", "\xE6\x97\xA5", false},
        {std::u16string(1, u'\0'), "\xC0\x80", false},
        {u"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80", false}, // a pair: two three-byte units
        {u"\x007F\x0080\x07FF\x0800\xFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", false},
    };
    for (const auto& c : cases) {
        const std::string bytes = dovrikna::modifiedUtf8(c.text);
        EXPECT_EQ(c.bytes, bytes);
        EXPECT_EQ(c.ascii, dovrikna::isAsciiText(bytes.c_str())) << c.bytes;
    }
}

} // namespace
