// The thumbnail cache's key, the frame checks, the rows' unpadding, the fit
// decision and the code page choice, checked against their tables.
#include "desktop/thumbnail_fit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dovrikna {
namespace {

const FileStamp kStamp{1000, 132000000000000000ull};

TEST(ThumbnailKey, MatchesOnlyTheExactPathAndStampOnceOneIsHeld)
{
    ThumbnailKey key;
    EXPECT_FALSE(key.matches("", FileStamp())) << "an empty cache is no hit, not even for the empty path";
    EXPECT_FALSE(key.matches("C:\\v\\a.avi", kStamp));

    key.assign("C:\\v\\a.avi", kStamp);
    EXPECT_TRUE(key.held());
    struct {
        const char* path;
        FileStamp stamp;
        bool hit;
    } const cases[] = {
        {"C:\\v\\a.avi", kStamp, true},
        {"C:\\V\\A.AVI", kStamp, false},
        {"c:\\v\\a.avi", kStamp, false},
        {"C:/v/a.avi", kStamp, false},
        {"C:\\v\\a.avi ", kStamp, false},
        {"C:\\v\\a.av", kStamp, false},
        {"", kStamp, false},
        {"C:\\v\\a.avi", {kStamp.size + 1, kStamp.writeTime}, false},     // rewritten, longer
        {"C:\\v\\a.avi", {kStamp.size, kStamp.writeTime + 1}, false},     // rewritten, as long
        {"C:\\v\\a.avi", {kStamp.size, kStamp.writeTime - 10000000}, false}, // an older copy put back
        {"C:\\v\\a.avi", FileStamp(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.hit, key.matches(c.path, c.stamp)) << c.path << " " << c.stamp.size << " " << c.stamp.writeTime;

    key.assign("", FileStamp());
    EXPECT_TRUE(key.matches("", FileStamp())) << "the empty path is a key like any other once a grab stored it";
    key.clear();
    EXPECT_FALSE(key.matches("", FileStamp()));
}

TEST(ThumbnailKey, APathOf260BytesOrMoreIsNeverStored)
{
    ThumbnailKey key;
    const std::string longest(259, 'a'), tooLong(260, 'b'), muchTooLong(5000, 'c');
    key.assign(longest.c_str(), kStamp);
    EXPECT_TRUE(key.matches(longest.c_str(), kStamp));

    // The sanitizer catches any write past the 260-byte field.
    key.assign(tooLong.c_str(), kStamp);
    EXPECT_FALSE(key.held());
    EXPECT_FALSE(key.matches(tooLong.c_str(), kStamp));
    EXPECT_FALSE(key.matches(longest.c_str(), kStamp)) << "the previous key must not survive";
    EXPECT_FALSE(key.matches(tooLong.substr(0, 259).c_str(), kStamp));

    key.assign(muchTooLong.c_str(), kStamp);
    EXPECT_FALSE(key.held());
}

TEST(FrameChecks, AFrameIsReadableOnlyWhenItsPaddedRowsLieInsideTheBuffer)
{
    struct {
        std::size_t buffer;
        std::int32_t width, height;
        bool readable;
    } const cases[] = {
        {40 + 320 * 240 * 3, 320, 240, true},
        {40 + 320 * 240 * 3 + 7, 320, 240, true},
        {40 + 320 * 240 * 3 - 1, 320, 240, false},
        {40 + 854 * 3 * 480, 854, 480, false}, // rows of 2562 bytes lie 2564 apart
        {40 + 2564 * 480, 854, 480, true},
        {40 + 2564 * 480 - 1, 854, 480, false},
        {40 + 4 * 3, 1, 3, true},
        {40 + 4 * 3 - 1, 1, 3, false},
        {40 + 3 * 3, 1, 3, false},
        {40, 0, 0, true},
        {40, 5, 0, true},
        {39, 0, 0, false},
        {0, 0, 0, false},
        {40 + 3 * 4 * 2, 4, -2, false},
        {40 + 3 * 4 * 2, -4, 2, false},
        {1000, INT32_MAX, INT32_MAX, false},
        {1000, INT32_MIN, INT32_MIN, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.readable, frameIsReadable(c.buffer, c.width, c.height))
            << c.buffer << " bytes, " << c.width << " x " << c.height;
    EXPECT_EQ(320u * 240u * 3u, framePixelBytes(320, 240));
    EXPECT_EQ(854u * 480u * 3u, framePixelBytes(854, 480));
}

// Each byte of a padded frame tells its row and column; padding bytes are
// 0xEE. Unpadded, the rows lie back to back, in their order.
TEST(FrameChecks, RowsLoseTheirPaddingAndKeepTheirOrder)
{
    for (std::int32_t width : {1, 2, 3, 4, 5, 34, 318, 320, 321, 426, 854}) {
        const std::int32_t height = 7;
        const std::size_t rowBytes = 3u * static_cast<std::size_t>(width);
        const std::size_t stride = (rowBytes + 3) / 4 * 4;
        std::vector<unsigned char> frame(stride * height, 0xEE);
        auto value = [](std::size_t row, std::size_t x) { return static_cast<unsigned char>(row * 31 + x % 251); };
        for (std::size_t row = 0; row < std::size_t(height); ++row)
            for (std::size_t x = 0; x < rowBytes; ++x) frame[row * stride + x] = value(row, x);

        unpadFrameRows(frame.data(), width, height);
        std::size_t wrong = 0, firstWrong = 0;
        for (std::size_t i = 0; i < rowBytes * height; ++i)
            if (frame[i] != value(i / rowBytes, i % rowBytes) && wrong++ == 0) firstWrong = i;
        EXPECT_EQ(0u, wrong) << "width " << width << ": first wrong byte at " << firstWrong;
    }
}

TEST(FrameChecks, TheFrameFitsWhenNeitherSideIsLargerAndTheArrayHoldsIt)
{
    const std::size_t full = 320 * 240 * 3;
    struct {
        std::int32_t statedWidth, statedHeight;
        std::size_t arrayBytes;
        bool copy;
        std::int32_t result;
    } const cases[] = {
        {320, 240, full, true, 0},
        {400, 300, full + 5, true, 0},
        {400, 200, full * 2, false, 320},   // fits in width only
        {319, 240, full, false, 320},
        {320, 239, full, false, 320},
        {320, 240, full - 1, false, 320},   // the stated size lies about the array
        {-1, -1, full, false, 320},
        {INT32_MAX, INT32_MAX, 0, false, 320},
    };
    for (const auto& c : cases) {
        const FitDecision fit = fitFrame(320, 240, c.statedWidth, c.statedHeight, c.arrayBytes);
        EXPECT_EQ(c.copy, fit.copy) << c.statedWidth << " x " << c.statedHeight << ", " << c.arrayBytes;
        EXPECT_EQ(c.result, fit.result) << c.statedWidth << " x " << c.statedHeight << ", " << c.arrayBytes;
    }
    const FitDecision empty = fitFrame(0, 0, 0, 0, 0);
    EXPECT_TRUE(empty.copy);
    EXPECT_EQ(0, empty.result);
    EXPECT_FALSE(fitFrame(-2, 3, 10, 10, 1000).copy);
}

TEST(CodePage, TheMethodFollowsThePlatform)
{
    struct {
        unsigned long platformId, major;
        CodePageMethod method;
    } const cases[] = {
        {2, 5, CodePageMethod::ThreadAcp},    {2, 6, CodePageMethod::ThreadAcp},
        {2, 10, CodePageMethod::ThreadAcp},   {2, 4, CodePageMethod::ThreadLocale},
        {2, 3, CodePageMethod::ThreadLocale}, {1, 4, CodePageMethod::ThreadLocale},
        {1, 5, CodePageMethod::ThreadLocale}, {0, 5, CodePageMethod::ThreadLocale},
        {3, 5, CodePageMethod::ThreadLocale},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.method, chooseCodePageMethod(c.platformId, c.major)) << c.platformId << " " << c.major;
}

TEST(CodePage, TheLocaleTextIsReadDigitByDigit)
{
    struct {
        const char* text;
        unsigned value;
    } const cases[] = {
        {"1252", 1252}, {"932", 932}, {"0", 0}, {"", 0}, {"00874", 874}, {"65001", 65001},
        {"12a", 120 + ('a' - '0')}, // no check for other bytes: the same arithmetic
    };
    for (const auto& c : cases) EXPECT_EQ(c.value, parseAnsiCodePage(c.text, 7)) << '"' << c.text << '"';

    // The buffer holds 7 characters; an unterminated one is read no further.
    const char full[7] = {'1', '2', '3', '4', '5', '6', '7'};
    EXPECT_EQ(1234567u, parseAnsiCodePage(full, sizeof full));
    const char high[3] = {'\xff', '1', '\0'};
    EXPECT_EQ((255u - '0') * 10u + 1u, parseAnsiCodePage(high, sizeof high));
}

} // namespace
} // namespace dovrikna
