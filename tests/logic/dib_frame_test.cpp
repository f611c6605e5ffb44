// Media Foundation's RGB frames laid out as the media detector's: sizes,
// where the rows lie in a delivered buffer, and the packing itself.
#include "desktop/dib_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

} // namespace
} // namespace dovrikna
