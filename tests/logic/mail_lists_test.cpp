#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/mail_lists.h"

namespace {

using dovrikna::LeadByteTest;

bool singleByte(unsigned char)
{
    return false;
}

// Code page 932's lead bytes.
bool shiftJis(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Counts, then splits as the mail sender does; the tokens as strings. Works on
// a heap copy of exactly the list's bytes so the sanitizer sees any read past it.
std::vector<std::string> split(const std::string& list, unsigned char separator, LeadByteTest isLead)
{
    std::vector<char> copy(list.begin(), list.end());
    copy.push_back('\0');
    size_t count = dovrikna::countTokens(copy.data(), separator, isLead);
    std::vector<std::string> tokens;
    char* cursor = copy.data();
    for (size_t i = 0; i < count; ++i) {
        char* token = dovrikna::takeToken(&cursor, separator, isLead);
        if (!token) {
            ADD_FAILURE() << "token " << i << " of " << count << " missing in \"" << list << "\"";
            break;
        }
        tokens.push_back(token);
    }
    EXPECT_EQ(nullptr, cursor) << "tokens left over after " << count << " in \"" << list << "\"";
    return tokens;
}

using Tokens = std::vector<std::string>;

TEST(MailLists, SplitKeepsEmptyTokensAndDoesNotTrim)
{
    struct Row {
        std::string list;
        Tokens tokens;
    };
    const Row rows[] = {
        {"a;b", {"a", "b"}},
        {"a;", {"a", ""}},
        {"a;;b", {"a", "", "b"}},
        {";a", {"", "a"}},
        {";", {"", ""}},
        {"", {""}},
        {"x", {"x"}},
        {" a ; b ", {" a ", " b "}},
        {"C:\\p\\x.jpg;C:\\q\\y.png", {"C:\\p\\x.jpg", "C:\\q\\y.png"}},
    };
    for (const Row& row : rows) EXPECT_EQ(row.tokens, split(row.list, ';', singleByte)) << "\"" << row.list << "\"";
}

TEST(MailLists, UnderASingleByteCodePageEveryByteIsACharacter)
{
    EXPECT_EQ(Tokens({"\x81", "b"}), split("\x81;b", ';', singleByte));
    EXPECT_EQ(Tokens({"a", "b"}), split("a,b", ',', singleByte));
    EXPECT_EQ(Tokens({"a;b"}), split("a;b", ',', singleByte));
}

TEST(MailLists, ASeparatorThatIsTheSecondByteOfADoubleByteCharacterDoesNotSplit)
{
    // 0x81 0x3B is one character of code page 932; the ';' after it splits.
    EXPECT_EQ(Tokens({"a\x81;b", "c"}), split("a\x81;b;c", ';', shiftJis));
    EXPECT_EQ(Tokens({"\x81\\"}), split("\x81\\", '\\', shiftJis));
    // A byte that only ever follows a lead byte stands alone when no lead byte precedes it.
    EXPECT_EQ(Tokens({"\xA1", "b"}), split("\xA1;b", ';', shiftJis));
    // Two lead bytes in a row are one character; the ';' after them is a separator.
    EXPECT_EQ(Tokens({"\x81\x81", "b"}), split("\x81\x81;b", ';', shiftJis));
    // A lead byte whose second byte is the list's end stops the walk there.
    EXPECT_EQ(Tokens({"a", "\x81"}), split("a;\x81", ';', shiftJis));
    EXPECT_EQ(Tokens({";\x81"}), split(";\x81", '\x81', shiftJis));
}

TEST(MailLists, SeparatorsThatDoNotSplitLeaveTheWholeListAsOneToken)
{
    const unsigned char separators[] = {0x00, 0x80, 0x81, 0xA7, 0xFF};
    for (unsigned char separator : separators) {
        std::string list = std::string("a;b\x80\x81\xA7\xFF") + "c";
        EXPECT_FALSE(dovrikna::splitsAt(separator)) << int(separator);
        EXPECT_EQ(Tokens({list}), split(list, separator, singleByte)) << int(separator);
        EXPECT_EQ(Tokens({list}), split(list, separator, shiftJis)) << int(separator);
        EXPECT_EQ(Tokens({""}), split("", separator, singleByte)) << int(separator);
    }
    EXPECT_TRUE(dovrikna::splitsAt(0x01));
    EXPECT_TRUE(dovrikna::splitsAt(0x7F));
    EXPECT_EQ(Tokens({"a", "b"}), split("a\x7F" "b", 0x7F, singleByte));
    EXPECT_EQ(Tokens({"a", "b"}), split("a\x01" "b", 0x01, singleByte));
}

TEST(MailLists, FileNamePartFollowsTheLastBackslashOrColon)
{
    struct Row {
        std::string path, name;
    };
    const Row rows[] = {
        {"C:\\photos\\x.jpg", "x.jpg"},
        {"C:x.jpg", "x.jpg"},
        {"x.jpg", "x.jpg"},
        {"C:\\photos\\", ""},
        {"", ""},
        {"\\\\server\\share\\a.b", "a.b"},
        {"C:\\a:b", "b"},
        {"a\\b:", ""},
        // Bytes are scanned singly: the 0x5C of the double-byte 0x95 0x5C counts.
        {"C:\\\x95\\x.jpg", "x.jpg"},
        {"C:\\a\x95\\", ""},
    };
    for (const Row& row : rows) {
        std::vector<char> copy(row.path.begin(), row.path.end());
        copy.push_back('\0');
        const char* name = dovrikna::fileNamePart(copy.data());
        EXPECT_EQ(row.name, name) << "\"" << row.path << "\"";
        EXPECT_EQ(copy.data() + row.path.size() - row.name.size(), name) << "not inside \"" << row.path << "\"";
    }
}

} // namespace

namespace {

// The Java side's list is split by characters: "－" (U+FF0D), whose code
// page 932 form ends in '|', is no separator; empty tokens stay.
TEST(SplitWideList, SplitsAtTheSeparatorCharacterOnly)
{
    using Tokens = std::vector<std::u16string>;
    const struct {
        std::u16string list;
        unsigned char separator;
        Tokens tokens;
    } cases[] = {
        {u"a\xFF0D|b|c", '|', {u"a\xFF0D", u"b", u"c"}},
        {u"|\x8868\\;;", ';', {u"|\x8868\\", u"", u""}},
        {u"", ';', {u""}},
        {u"a;b", 0, {u"a;b"}},
        {u"a\x00E9" u"b", 0xE9, {u"a\x00E9" u"b"}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.tokens, dovrikna::splitWideList(c.list, c.separator));
}

} // namespace
