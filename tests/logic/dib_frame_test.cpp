// Media Foundation's RGB frames laid out as the media detector's: sizes,
// where the rows lie in a delivered buffer, and the packing itself.
#include "desktop/dib_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace dovrikna {
namespace {

TEST(DibFrame, FrameBytesAreTheHeaderAndRowsPaddedToFour)
{
    struct {
        std::int32_t width, height;
        std::size_t bytes;
    } const cases[] = {
        {318, 240, 40 + 956 * 240}, {320, 240, 40 + 960 * 240}, {1, 1, 44},   {2, 3, 40 + 8 * 3},
        {16384, 16384, 40 + std::size_t{49152} * 16384},          {16385, 1, 0}, {1, 16385, 0},
        {0, 5, 0},                  {5, 0, 0},                  {-1, 5, 0},   {5, INT32_MIN, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bytes, dibFrameBytes(c.width, c.height)) << c.width << " x " << c.height;
}

TEST(DibFrame, TheRowsOfADeliveredBufferAreFoundOrTheFrameIsRefused)
{
    struct {
        const char* what;
        std::int32_t width, height;
        unsigned bytesPerPixel;
        std::size_t buffer;
        std::int32_t typeStride;
        bool defaultTopDown;
        RgbLayout expected;
    } const cases[] = {
        {"rows padded to 4, as Wine's converters write", 318, 240, 3, 956 * 240, 0, true, {true, 956, true}},
        {"rows exactly as long as their pixels", 318, 240, 3, 954 * 240, 0, false, {true, 954, false}},
        {"a buffer longer than its rows", 320, 2, 3, 960 * 2 + 7, 0, false, {true, 960, false}},
        {"one byte short of its rows", 318, 240, 3, 956 * 240 - 1, 0, false, {}},
        {"the type's stride, top-down", 318, 240, 4, 1272 * 240, 1272, false, {true, 1272, true}},
        {"the type's stride, bottom-up", 318, 240, 4, 1272 * 240, -1272, true, {true, 1272, false}},
        {"a stated stride wider than the buffer holds", 318, 240, 4, 1272 * 240, 1280, true, {}},
        {"a stated stride shorter than a row", 318, 240, 4, 1272 * 240, -1271, true, {}},
        {"the widest stride a type can state", 2, 2, 4, 64, INT32_MIN, true, {}},
        {"too wide", 16385, 1, 4, 16385 * 4, 0, true, {}},
        {"no pixels", 0, 240, 3, 1000, 0, true, {}},
        {"2 bytes a pixel", 4, 4, 2, 1000, 0, true, {}},
    };
    for (const auto& c : cases) {
        const RgbLayout layout =
            planRgbLayout(c.width, c.height, c.bytesPerPixel, c.buffer, c.typeStride, c.defaultTopDown);
        EXPECT_EQ(c.expected.usable, layout.usable) << c.what;
        if (c.expected.usable) {
            EXPECT_EQ(c.expected.stride, layout.stride) << c.what;
            EXPECT_EQ(c.expected.topDown, layout.topDown) << c.what;
        }
    }
}

std::uint32_t field(const std::vector<unsigned char>& frame, std::size_t at, int bytes)
{
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | frame[at + i];
    return value;
}

// A picture of 5 x 3 pixels in every source layout comes out the same:
// bottom row first, B G R, each row padded with zeros to 16 bytes.
TEST(DibFrame, EveryLayoutPacksToTheSameBottomUpRows)
{
    const std::int32_t width = 5, height = 3;
    auto channel = [](int x, int y, int c) { return static_cast<unsigned char>(1 + x * 16 + y * 64 + c); };
    for (unsigned bytesPerPixel : {3u, 4u})
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(std::to_string(bytesPerPixel) + (topDown ? " top-down" : " bottom-up"));
            const std::size_t stride = width * bytesPerPixel + 5; // odd padding of the source's own
            std::vector<unsigned char> source(stride * height, 0xEE);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    for (unsigned c = 0; c < bytesPerPixel; ++c) {
                        const int memoryRow = topDown ? y : height - 1 - y;
                        source[memoryRow * stride + x * bytesPerPixel + c] = c < 3 ? channel(x, y, c) : 0xAA;
                    }
            const RgbLayout layout{true, stride, topDown};
            std::vector<unsigned char> frame(dibFrameBytes(width, height), 0x5A);
            packDibFrame(source.data(), layout, width, height, bytesPerPixel, frame.data());

            // biSize, biWidth, biHeight, biPlanes, biBitCount, biCompression, biSizeImage, then zeros.
            EXPECT_EQ(40u, field(frame, 0, 4));
            EXPECT_EQ(5u, field(frame, 4, 4));
            EXPECT_EQ(3u, field(frame, 8, 4));
            EXPECT_EQ(1u, field(frame, 12, 2));
            EXPECT_EQ(24u, field(frame, 14, 2));
            EXPECT_EQ(0u, field(frame, 16, 4));
            EXPECT_EQ(48u, field(frame, 20, 4));
            EXPECT_EQ(std::vector<unsigned char>(16, 0), std::vector<unsigned char>(frame.begin() + 24, frame.begin() + 40));
            size_t wrong = 0;
            for (int row = 0; row < height; ++row) {
                const unsigned char* pixels = frame.data() + 40 + row * 16;
                for (int x = 0; x < width; ++x)
                    for (int c = 0; c < 3; ++c) wrong += pixels[x * 3 + c] != channel(x, height - 1 - row, c);
                wrong += pixels[15] != 0;
            }
            EXPECT_EQ(0u, wrong);
        }
}

// A 5 x 3 picture whose pixels tell where they were stored, turned by each
// quarter: where its corners end up as shown, and rows padded with zeros.
TEST(DibFrame, ATurnMovesTheCornersClockwiseAndSwapsTheSidesForAQuarter)
{
    const std::int32_t width = 5, height = 3;
    // Pixel (x, y) of the stored picture, counted from its top left: B = x, G = y.
    std::vector<unsigned char> source(width * 3 * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            source[(y * width + x) * 3] = static_cast<unsigned char>(x);
            source[(y * width + x) * 3 + 1] = static_cast<unsigned char>(y);
            source[(y * width + x) * 3 + 2] = 0xC0;
        }
    std::vector<unsigned char> stored(dibFrameBytes(width, height));
    packDibFrame(source.data(), RgbLayout{true, width * 3, true}, width, height, 3, stored.data());

    struct Corner {
        int x, y;
    };
    struct {
        int turns;
        std::int32_t width, height;
        Corner topLeft, topRight, bottomLeft; // the stored pixels shown there
    } const cases[] = {
        {0, 5, 3, {0, 0}, {4, 0}, {0, 2}},
        {1, 3, 5, {0, 2}, {0, 0}, {4, 2}},
        {2, 5, 3, {4, 2}, {0, 2}, {4, 0}},
        {3, 3, 5, {4, 0}, {4, 2}, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.turns);
        EXPECT_EQ(dibFrameBytes(c.width, c.height), turnedFrameBytes(width, height, c.turns));
        std::vector<unsigned char> shown(turnedFrameBytes(width, height, c.turns), 0x5A);
        turnDibFrame(stored.data(), width, height, c.turns, shown.data());
        EXPECT_EQ(std::uint32_t(c.width), field(shown, 4, 4));
        EXPECT_EQ(std::uint32_t(c.height), field(shown, 8, 4));
        EXPECT_EQ(dibRowBytes(c.width) * c.height, field(shown, 20, 4));
        const std::size_t row = dibRowBytes(c.width);
        auto pixel = [&](int x, int fromTop) { // B and G of a shown pixel
            const unsigned char* at = shown.data() + 40 + (c.height - 1 - fromTop) * row + 3 * x;
            return std::make_pair(int(at[0]), int(at[1]));
        };
        EXPECT_EQ(std::make_pair(c.topLeft.x, c.topLeft.y), pixel(0, 0));
        EXPECT_EQ(std::make_pair(c.topRight.x, c.topRight.y), pixel(c.width - 1, 0));
        EXPECT_EQ(std::make_pair(c.bottomLeft.x, c.bottomLeft.y), pixel(0, c.height - 1));
        size_t red = 0, padding = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) red += shown[40 + y * row + 3 * x + 2] == 0xC0;
            for (size_t i = 3 * c.width; i < row; ++i) padding += shown[40 + y * row + i] != 0;
        }
        EXPECT_EQ(size_t(width * height), red);
        EXPECT_EQ(0u, padding);
    }
    // Four quarters bring the picture back, byte for byte.
    std::vector<unsigned char> turning = stored;
    for (int i = 0; i < 4; ++i) {
        const bool sideways = i % 2 == 1;
        std::vector<unsigned char> next(turnedFrameBytes(sideways ? height : width, sideways ? width : height, 1));
        turnDibFrame(turning.data(), sideways ? height : width, sideways ? width : height, 1, next.data());
        turning.swap(next);
    }
    EXPECT_EQ(stored, turning);
}

} // namespace
} // namespace dovrikna
