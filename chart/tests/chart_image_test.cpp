// Picture values: the grey scale, the automatic range and the colours outside the range.
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "chart_image.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

uint32_t grey(uint32_t g)
{
    return 0xFF000000u | g << 16 | g << 8 | g;
}

TEST(ChartImage, GreyScaleAndOutOfRangeColours)
{
    struct Case {
        const char* name;
        std::vector<double> data;
        double min, max;
        bool colorOutOfRange;
        std::vector<uint32_t> expected;
    } cases[] = {
        {"constant data is mid grey", {7, 7}, 0, 0, true, {grey(127), grey(127)}},
        {"automatic range", {10, 20, 15}, 0, 0, true, {grey(0), grey(255), grey(127)}},
        {"fixed range", {-1, 0, 5, 10, 11}, 0, 10, true, {kImageBlue, grey(0), grey(127), grey(255), kImageRed}},
        {"flag off", {-1, 11, 5}, 0, 10, false, {kImageBlack, kImageWhite, grey(127)}},
        {"NaN lies below", {kNaN, 5, kInf, -kInf}, 0, 10, true, {kImageBlue, grey(127), kImageRed, kImageBlue}},
        {"automatic range ignores NaN", {kNaN, 1, 3}, 0, 0, true, {kImageBlue, grey(0), grey(255)}},
        {"no finite value", {kNaN, kInf}, 0, 0, true, {kImageBlue, kImageRed}},
        {"a bound not finite is automatic", {0, 4}, kNaN, 10, true, {grey(0), grey(255)}},
        {"infinite spread", {-1e308, 1e308}, 0, 0, true, {grey(0), grey(0)}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> pixels;
        ASSERT_TRUE(chartImagePixels(c.data.data(), static_cast<unsigned>(c.data.size()), 1, c.min, c.max, pixels,
                                     c.colorOutOfRange)) << c.name;
        EXPECT_EQ(pixels, c.expected) << c.name;
    }
}

TEST(ChartImage, EveryElementTypeAndBadSizes)
{
    const uint8_t u8[] = {0, 255};
    const uint16_t u16[] = {0, 65535};
    const uint32_t u32[] = {0, 4000000000u};
    std::vector<uint32_t> pixels;
    const std::vector<uint32_t> blackWhite = {grey(0), grey(255)};
    ASSERT_TRUE(chartImagePixels(u8, 1, 2, 0, 0, pixels));
    EXPECT_EQ(pixels, blackWhite);
    ASSERT_TRUE(chartImagePixels(u16, 2, 1, 0, 0, pixels));
    EXPECT_EQ(pixels, blackWhite);
    ASSERT_TRUE(chartImagePixels(u32, 2, 1, 0, 0, pixels));
    EXPECT_EQ(pixels, blackWhite);

    pixels = {1, 2, 3};
    const std::vector<uint32_t> kept = pixels;
    EXPECT_FALSE(chartImagePixels(static_cast<const uint16_t*>(nullptr), 2, 2, 0, 0, pixels));
    EXPECT_FALSE(chartImagePixels(u16, 0, 2, 0, 0, pixels));
    EXPECT_FALSE(chartImagePixels(u16, 2, 0, 0, 0, pixels));
    EXPECT_FALSE(chartImagePixels(u16, 0x10000u, 0x10000u, 0, 0, pixels)) << "2^32 pixels";
    EXPECT_EQ(pixels, kept);
}

} // namespace
