// The words of the natives' failure lines, and the log's pacing decisions.
#include <gtest/gtest.h>

#include <string>

#include "frame/failure_words.h"
#include "frame/log_pacing.h"

namespace {

std::string orNull(const char* text)
{
    return text ? text : "(null)";
}

TEST(FailureWords, EachValueHasItsNameAndAnUnknownOneNone)
{
    EXPECT_EQ("MAPI_USER_ABORT", orNull(dovrikna::mapiResultName(1)));
    EXPECT_EQ("MAPI_E_ATTACHMENT_NOT_FOUND", orNull(dovrikna::mapiResultName(11)));
    EXPECT_EQ("MAPI_E_NOT_SUPPORTED", orNull(dovrikna::mapiResultName(26)));
    EXPECT_EQ("(null)", orNull(dovrikna::mapiResultName(7)));
    EXPECT_EQ("SE_ERR_NOASSOC", orNull(dovrikna::shellAnswerName(31)));
    EXPECT_EQ("ERROR_FILE_NOT_FOUND", orNull(dovrikna::shellAnswerName(2)));
    EXPECT_EQ("(null)", orNull(dovrikna::shellAnswerName(33)));

    const struct {
        bool found;
        unsigned hr;
        const char* reason;
    } thumbnails[] = {
        {false, 0x80004005, "no such file"},  {true, 0x80070002, "no such file"},
        {true, 0xC00D36C4, "not a video"},    {true, 0x80040200, "not a video"},
        {true, 0xC00D36B3, "no video stream"}, {true, 0x80004005, "(null)"},
        {true, 0xC00D36B4, "(null)"},
    };
    for (const auto& row : thumbnails)
        EXPECT_EQ(row.reason, orNull(dovrikna::thumbnailFailureReason(row.found, row.hr)))
            << std::hex << row.hr << " found " << row.found;
}

// A stopped writer: the first line waits, the next ones look only, until one
// finds the turn free; inside DllMain no line waits, and a look that was not
// let wait does not make the turn stalled.
TEST(LogPacing, AfterOneTimeOutNoLineWaitsUntilTheTurnIsSeenFree)
{
    const struct {
        bool insideLoader;
        bool got;
        unsigned patience;
        bool stalledAfter;
    } lines[] = {
        {true, false, 0, false},  {false, false, 1000, true}, {false, false, 0, true},
        {true, false, 0, true},   {false, true, 0, false},    {false, false, 1000, true},
    };
    bool stalled = false;
    for (const auto& line : lines) {
        const unsigned patience = dovrikna::turnPatience(stalled, line.insideLoader, 1000);
        EXPECT_EQ(line.patience, patience) << &line - lines;
        stalled = dovrikna::turnStalledAfter(stalled, patience, line.got);
        EXPECT_EQ(line.stalledAfter, stalled) << &line - lines;
    }

    dovrikna::RotationPacing rotation;
    const std::uint32_t start = 0xFFFFFF00u; // the tick count wraps meanwhile
    EXPECT_TRUE(rotation.due(start));
    rotation.tried(false, start);
    EXPECT_FALSE(rotation.due(start + 1999));
    EXPECT_TRUE(rotation.due(start + 2000));
    rotation.tried(true, start + 2000);
    EXPECT_TRUE(rotation.due(start + 2001));
}

} // namespace
