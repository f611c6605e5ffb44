#include <gtest/gtest.h>

#include "acquisition/multibyte_prefix.h"

namespace {

// Lead bytes of code page 932 (Shift JIS).
bool shiftJisLead(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool noLead(unsigned char)
{
    return false;
}

struct Row {
    const char* text;
    const char* prefix;
    bool matches;
};

void check(const Row* rows, size_t count, dovrikna::LeadByteTest lead, const char* codePage)
{
    for (size_t i = 0; i < count; ++i)
        EXPECT_EQ(rows[i].matches, dovrikna::multibytePrefixMatches(rows[i].text, rows[i].prefix, lead))
            << codePage << ": \"" << rows[i].text << "\" against \"" << rows[i].prefix << "\"";
}

TEST(MultibytePrefix, SingleByteTextFoldsAsciiLettersOnly)
{
    const Row rows[] = {
        {"C:\\Temp\\scan1.bmp", "C:\\Temp\\", true},
        {"c:\\TEMP\\scan1.bmp", "C:\\Temp\\", true},
        {"C:\\Temp\\", "C:\\Temp\\", true},            // the directory itself
        {"C:\\Temp", "C:\\Temp\\", false},             // a strict prefix of the directory
        {"C:\\Temporary\\a.bmp", "C:\\Temp\\", false}, // shares the letters, not the directory
        {"D:\\Temp\\a.bmp", "C:\\Temp\\", false},
        {"", "C:\\Temp\\", false},
        {"anything", "", true}, // the empty prefix: callers never pass it
        {"C:\\T\xC9MP\\a", "C:\\T\xE9MP\\", false}, // accented letters are not folded
        {"C:\\[\\a", "C:\\{\\", false},               // '[' and '{' differ by 0x20 but are no letters
        {"C:\\@\\a", "C:\\`\\", false},
    };
    check(rows, sizeof rows / sizeof rows[0], noLead, "single-byte");
}

TEST(MultibytePrefix, DoubleByteCharactersAreWholeUnits)
{
    const Row rows[] = {
        // 0x83 0x41 and 0x83 0x61 are two different katakana whose trail bytes
        // are 'A' and 'a': a byte-wise case-blind comparison calls them equal.
        {"C:\\tmp\\\x83\x61\\scan.bmp", "C:\\tmp\\\x83\x41\\", false},
        {"C:\\TMP\\\x83\x41\\scan.bmp", "C:\\tmp\\\x83\x41\\", true},
        // Full-width capital A (0x82 0x60) and small a (0x82 0x81) are not folded.
        {"C:\\\x82\x60\\x", "C:\\\x82\x81\\", false},
        // A trail byte 0x5C is no backslash: the text's character 0x95 0x5C
        // does not end a directory "C:\x95" of the prefix.
        {"C:\\\x95\\x.bmp", "C:\\\x95\\", true}, // same bytes, also in 932
        {"C:\\\x95\x5C" "a", "C:\\\x95\x5C", true},
        // The text has a double-byte character where the prefix has two
        // single-byte ones: the boundaries differ, so no match even though
        // the bytes would match case-blindly.
        {"C:\\\x83\x61x", "C:\\\x83" "A", false},
        // The text ends in a lead byte: shorter than the prefix.
        {"C:\\\x83", "C:\\\x83\x41", false},
        // A lead byte right at the end of the prefix counts as a character
        // of its own and is compared exactly.
        {"C:\\\x83\x41", "C:\\\x83", true},
        {"C:\\\x84\x41", "C:\\\x83", false},
    };
    check(rows, sizeof rows / sizeof rows[0], shiftJisLead, "932");

    // The first row under a single-byte code page: 0x41 and 0x61 are then
    // letters of their own, folded to match.
    EXPECT_TRUE(dovrikna::multibytePrefixMatches("C:\\tmp\\\x83\x61\\scan.bmp", "C:\\tmp\\\x83\x41\\", noLead));
}

} // namespace
