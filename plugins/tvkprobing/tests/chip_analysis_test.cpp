// Evaluation of a chip's test frames: the classes from bad columns and pixels at the limits' edges, the
// ANIN count ranges, and bad columns at "BadColPixCount" reached or not.
#include <gtest/gtest.h>

#include <vector>

#include "chip_analysis.h"

using namespace probing;

namespace {

// A frame with the given pixels set to value, the others to base.
std::vector<int16_t> frameWith(const std::vector<int>& pixels, int16_t value, int16_t base)
{
    std::vector<int16_t> f(kChipPixels, base);
    for (int p : pixels)
        f[static_cast<size_t>(p)] = value;
    return f;
}

// n pixels of column col, from the top.
std::vector<int> columnPixels(int col, int n)
{
    std::vector<int> p;
    for (int r = 0; r < n; ++r)
        p.push_back(r * kChipSide + col);
    return p;
}

// n pixels spread so that no column gets more than 3.
std::vector<int> spreadPixels(int n)
{
    std::vector<int> p;
    for (int i = 0; i < n; ++i)
        p.push_back((i / kChipSide) * kChipSide + i % kChipSide);
    return p;
}

std::vector<int> slice(const std::vector<int>& v, size_t from, size_t to)
{
    return std::vector<int>(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(to));
}

} // namespace

TEST(ChipClass, FirstClassThatFitsWithDefaultLimits)
{
    const ChipTestSettings s;
    struct Case {
        const char* name;
        int columns;
        int pixels;
        char expected;
    } cases[] = {
        {"nothing bad", 0, 0, 'A'},
        {"A pixel limit reached", 0, 128, 'A'},
        {"one pixel over A", 0, 129, 'B'},
        {"one bad column", 1, 128, 'B'},
        {"B at its limits", 1, 384, 'B'},
        {"B columns, C pixels", 1, 385, 'C'},
        {"C at its limits", 2, 640, 'C'},
        {"two columns, 641 pixels", 2, 641, 'D'},
        {"three columns", 3, 10, 'D'},
        {"D column limit", 256, 300, 'D'},
        {"257 columns", 257, 300, 'E'},
        {"pixels over D", 0, 65537, 'E'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classLetter(classFor(c.columns, c.pixels, s)), c.expected) << c.name;
}

TEST(ChipClass, FromTheFramesADigitalOrAninFaultMakesAPixelBad)
{
    const ChipTestSettings s;
    struct Case {
        const char* name;
        std::vector<int> digitalBad;
        std::vector<int> aninBad;
        char expected;
    } cases[] = {
        {"all good", {}, {}, 'A'},
        {"128 bad in one column: one bad column", columnPixels(7, 128), {}, 'B'},
        {"127 bad in one column: no bad column", columnPixels(7, 127), {}, 'A'},
        {"one bad column and one more pixel", columnPixels(7, 128), {5}, 'B'},
        {"384 spread digitally", spreadPixels(384), {}, 'B'},
        {"385 spread over both tests", slice(spreadPixels(385), 0, 200), slice(spreadPixels(385), 200, 385), 'C'},
        {"a pixel bad in both counts once", {9}, {9}, 'A'},
    };
    for (const Case& c : cases) {
        const auto digital = frameWith(c.digitalBad, 1, 0);
        const auto anin = frameWith(c.aninBad, 0, 1000);
        EXPECT_EQ(classLetter(classifyChip(digital.data(), anin.data(), s)), c.expected) << c.name;
    }
}

TEST(AninCounts, DeadLowNoisyAndTheRangeEnds)
{
    const ChipTestSettings s;
    struct Case {
        int count;
        bool inRange;
        int dead, low, noisy;
    } cases[] = {
        {0, false, 1, 0, 0},    {949, false, 0, 1, 0},  {950, true, 0, 0, 0},
        {1050, true, 0, 0, 0},  {1051, false, 0, 0, 1}, {1, false, 0, 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(aninInRange(c.count, s), c.inRange) << c.count;
        const auto frame = frameWith({42}, static_cast<int16_t>(c.count), 1000);
        const AninResult r = analyseAnin(frame.data(), s);
        EXPECT_EQ(r.dead, c.dead) << c.count;
        EXPECT_EQ(r.low, c.low) << c.count;
        EXPECT_EQ(r.noisy, c.noisy) << c.count;
    }
}

TEST(AninCounts, BadColumnCountsDeadPixelsAsOutOfRange)
{
    const ChipTestSettings s;
    auto frame = frameWith(columnPixels(3, 100), 0, 1000);
    for (int p : columnPixels(3, 128))
        if (frame[static_cast<size_t>(p)] != 0)
            frame[static_cast<size_t>(p)] = 2000;
    const AninResult r = analyseAnin(frame.data(), s);
    EXPECT_EQ(r.badColumns, 1);
    EXPECT_EQ(r.dead, 100);
    EXPECT_EQ(r.noisy, 28);
}

TEST(DigitalColumns, BadAtTheLimitNotBelow)
{
    struct Case {
        int inColumn;
        int expectedColumns;
    } cases[] = {{127, 0}, {128, 1}, {256, 1}};
    for (const Case& c : cases) {
        const auto frame = frameWith(columnPixels(255, c.inColumn), 3, 0);
        const DigitalResult r = analyseDigital(frame.data(), 128);
        EXPECT_EQ(r.badColumns, c.expectedColumns) << c.inColumn;
        EXPECT_EQ(r.badPixels, c.inColumn);
    }
}
