// The analysis of one device: pulse height and spectrum, the cluster finder, the acceptance of clusters
// and the images of accepted clusters and coincidences.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pulse_analysis.h"

namespace {

struct Frame {
    unsigned width, height;
    std::vector<uint16_t> pixels;
    Frame(unsigned w, unsigned h) : width(w), height(h), pixels(size_t{w} * h, 0) {}
    Frame& set(unsigned x, unsigned y, uint16_t v)
    {
        pixels[size_t{y} * width + x] = v;
        return *this;
    }
    Frame& square(unsigned x0, unsigned y0, unsigned side, uint16_t v)
    {
        for (unsigned y = y0; y < y0 + side; ++y)
            for (unsigned x = x0; x < x0 + side; ++x)
                set(x, y, v);
        return *this;
    }
};

TEST(PulseHeight, LargestSampleUntilOneFallsBelowTheFirst)
{
    struct Case {
        const char* name;
        std::vector<uint16_t> samples;
        unsigned height;
    } cases[] = {
        {"rise then fall", {10, 20, 30, 25, 5, 90}, 30},
        {"first sample the maximum", {30, 20, 10, 90}, 30},
        {"flat", {7, 7, 7}, 7},
        {"dip below the first ends it", {10, 15, 9, 50}, 15},
        {"one sample", {4}, 4},
        {"none", {}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pulseHeight(c.samples.data(), static_cast<unsigned>(c.samples.size())), c.height) << c.name;
}

TEST(PulseHeight, BaselineIsTheMedianLessTheOffset)
{
    struct Case {
        const char* name;
        std::vector<uint16_t> samples;
        int offset;
        std::vector<uint16_t> expected;
    } cases[] = {
        {"samples equal to the baseline become 0", {5, 5, 5, 9, 1}, 0, {0, 0, 0, 4, 0}},
        {"offset lowers the baseline", {5, 5, 5, 9, 1}, 2, {2, 2, 2, 6, 0}},
        {"even count: upper median", {1, 2, 3, 4}, 0, {0, 0, 0, 1}},
        {"baseline above every sample", {5, 6}, -65535, {0, 0}},
        {"clamped at the top", {65535, 0, 0}, 65535, {65535, 65535, 65535}},
    };
    std::vector<uint16_t> scratch;
    for (Case c : cases) {
        subtractBaseline(c.samples.data(), static_cast<unsigned>(c.samples.size()), c.offset, scratch);
        EXPECT_EQ(c.samples, c.expected) << c.name;
    }
}

// Every measured pulse counts as a pulse; only heights 0..4095 have a spectrum point, and the spectrum
// keeps its 4096 points whatever the heights.
TEST(PulseSpectrum, EveryPulseCountsHeightsBelow4096EnterTheSpectrum)
{
    struct Case {
        const char* name;
        std::vector<uint16_t> heights; // one single-sample pulse each, in order
        uint64_t pulses;
        std::vector<std::pair<unsigned, double>> points; // spectrum points that are not 0
        unsigned spectrumMax;
    } cases[] = {
        {"in range and above", {4095, 4096, 3, 3}, 4, {{4095, 1}, {3, 2}}, 2},
        {"only above the range", {4096}, 1, {}, 0},
        {"the largest height", {65535, 0}, 2, {{0, 1}}, 1},
    };
    PulseSettings s;
    s.baselineOn = false;
    const Frame empty(4, 4);
    for (const Case& c : cases) {
        PulseAnalysis a;
        a.setSettings(s);
        for (const uint16_t& h : c.heights)
            a.analyse(empty.pixels.data(), 4, 4, &h, 1);
        const PulseResults& r = a.results();
        EXPECT_EQ(r.counters.pulses, c.pulses) << c.name;
        EXPECT_EQ(r.spectrumMax, c.spectrumMax) << c.name;
        EXPECT_EQ(r.lastPulseHeight, c.heights.back()) << c.name;
        ASSERT_EQ(r.spectrum.count(), kSpectrumSize) << c.name;
        std::vector<std::pair<unsigned, double>> points;
        for (unsigned i = 0; i < r.spectrum.count(); ++i) {
            EXPECT_EQ(r.spectrum.points[i].x, i) << c.name;
            if (r.spectrum.points[i].y != 0)
                points.emplace_back(i, r.spectrum.points[i].y);
        }
        std::sort(points.begin(), points.end());
        auto expected = c.points;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(points, expected) << c.name;
        ASSERT_EQ(r.shapes.size(), c.heights.size()) << c.name;
        EXPECT_EQ(r.shapes.back(), std::vector<uint16_t>{c.heights.back()}) << "a shape for every pulse: " << c.name;
    }
}

TEST(PulseSpectrum, ShapeHistoryKeepsTheNewest)
{
    PulseAnalysis a;
    PulseSettings s;
    s.baselineOn = false;
    s.shapeHistory = 2;
    a.setSettings(s);
    const Frame empty(2, 2);
    for (uint16_t v = 1; v <= 5; ++v)
        a.analyse(empty.pixels.data(), 2, 2, &v, 1);
    ASSERT_EQ(a.results().shapes.size(), 2u);
    EXPECT_EQ(a.results().shapes.front()[0], 4);
    EXPECT_EQ(a.results().shapes.back()[0], 5);
    s.shapeHistory = 1;
    a.setSettings(s);
    EXPECT_EQ(a.results().shapes.size(), 1u);
}

TEST(ClusterFinder, FourNeighbourClustersWithOutlineAndWeights)
{
    struct Case {
        const char* name;
        Frame frame;
        uint16_t threshold;
        unsigned overlap;
        std::vector<PulseCluster> expected; // size, perimeter, max, overlap, weight, sumX, sumY
    } cases[] = {
        {"single pixel inside", Frame(5, 5).set(2, 2, 7), 1, 0, {{1, 4, 7, false, 7, 14, 14}}},
        {"corner pixel: the frame edge counts", Frame(3, 3).set(0, 0, 2), 1, 0, {{1, 4, 2, false, 2, 0, 0}}},
        {"3 x 3 square", Frame(6, 6).square(1, 1, 3, 1), 1, 0, {{9, 12, 1, false, 9, 18, 18}}},
        {"diagonal pixels stay apart", Frame(4, 4).set(1, 1, 1).set(2, 2, 1), 1, 0,
         {{1, 4, 1, false, 1, 1, 1}, {1, 4, 1, false, 1, 2, 2}}},
        {"L shape", Frame(4, 4).set(0, 0, 1).set(0, 1, 1).set(1, 1, 3), 1, 0, {{3, 8, 3, false, 5, 3, 4}}},
        {"below the threshold is outside", Frame(4, 1).set(0, 0, 5).set(1, 0, 4).set(2, 0, 5), 5, 0,
         {{1, 4, 5, false, 5, 0, 0}, {1, 4, 5, false, 5, 10, 0}}},
        {"overlap level reached", Frame(3, 1).set(0, 0, 9).set(2, 0, 8), 1, 9,
         {{1, 4, 9, true, 9, 0, 0}, {1, 4, 8, false, 8, 16, 0}}},
        {"overlap off", Frame(2, 1).set(0, 0, 65535), 1, 0, {{1, 4, 65535, false, 65535, 0, 0}}},
        {"a ring keeps its hole as outline", Frame(5, 5).square(1, 1, 3, 1).set(2, 2, 0), 1, 0,
         {{8, 16, 1, false, 8, 16, 16}}},
    };
    ClusterFinder finder;
    for (const Case& c : cases) {
        const auto& found = finder.find(c.frame.pixels.data(), c.frame.width, c.frame.height, c.threshold, c.overlap);
        ASSERT_EQ(found.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < found.size(); ++i) {
            const PulseCluster& f = found[i];
            const PulseCluster& e = c.expected[i];
            EXPECT_EQ(f.size, e.size) << c.name;
            EXPECT_EQ(f.perimeter, e.perimeter) << c.name;
            EXPECT_EQ(f.maxValue, e.maxValue) << c.name;
            EXPECT_EQ(f.overlap, e.overlap) << c.name;
            EXPECT_EQ(f.weight, e.weight) << c.name;
            EXPECT_EQ(f.sumX, e.sumX) << c.name;
            EXPECT_EQ(f.sumY, e.sumY) << c.name;
        }
    }
}

TEST(ClusterFinder, RoundnessOfASquareAndOfTinyClusters)
{
    EXPECT_DOUBLE_EQ(clusterRoundness(9, 12), std::sqrt(9 / M_PI) / (12 / (2 * M_PI) + 0.5));
    EXPECT_EQ(clusterRoundness(1, 4), 1.0);
    EXPECT_EQ(clusterRoundness(2, 6), 1.0);
}

PulseSettings plain()
{
    PulseSettings s;
    s.baselineOn = false;
    s.enhanceFactor = 2.0;
    return s;
}

TEST(ClusterAcceptance, FiltersInOrderFlaggedSmallNotRound)
{
    PulseAnalysis a;
    PulseSettings s = plain();
    s.overlapLevel = 100;
    s.minClusterSize = 2;
    s.minRoundness = 0.6;
    a.setSettings(s);
    Frame f(20, 20);
    f.square(1, 1, 2, 100);                                     // flagged (and large enough)
    f.set(10, 1, 5);                                            // too small
    for (unsigned x = 1; x < 8; ++x) f.set(x, 10, 5);           // a line: not round
    f.square(12, 12, 3, 5);                                     // accepted
    a.analyse(f.pixels.data(), 20, 20, nullptr, 0);
    const PulseCounters& c = a.results().counters;
    EXPECT_EQ(c.seen, 4u);
    EXPECT_EQ(c.flagged, 1u);
    EXPECT_EQ(c.tooSmall, 1u);
    EXPECT_EQ(c.notRound, 1u);
    EXPECT_EQ(c.accepted, 1u);
    EXPECT_EQ(c.coincidences, 0u) << "no scope data, no coincidence";
    EXPECT_EQ(c.pulses, 0u);
    const PulseResults& r = a.results();
    EXPECT_EQ(r.count.values[13 * 20 + 13], 1u);
    EXPECT_EQ(r.sizeSum.values[13 * 20 + 13], 9.0);
    EXPECT_EQ(r.sizeSquares.values[13 * 20 + 13], 81.0);
    ASSERT_EQ(r.sizes.count(), 10u);
    EXPECT_EQ(r.sizes.points[9].y, 1);
    EXPECT_EQ(r.sizes.points[9].x, 9);
    EXPECT_EQ(r.enhancedCount.width, 40u);
    EXPECT_EQ(r.enhancedCount.values[26 * 40 + 26], 1u);
    double inRoundness = 0;
    for (const auto& p : r.roundness.points)
        inRoundness += p.y;
    EXPECT_EQ(inRoundness, 2) << "the line and the square reached the roundness test";
}

TEST(Coincidence, OnlyASingleAcceptedClusterWithAPulse)
{
    struct Case {
        const char* name;
        Frame frame;
        bool withPulse;
        unsigned coincidences;
    } cases[] = {
        {"one cluster and a pulse", Frame(8, 8).set(2, 3, 4).set(3, 3, 4), true, 1},
        {"two clusters", Frame(8, 8).set(1, 1, 4).set(5, 5, 4), true, 0},
        {"one cluster, no scope data", Frame(8, 8).set(2, 3, 4), false, 0},
        {"no cluster", Frame(8, 8), true, 0},
    };
    const uint16_t pulse[] = {10, 40, 20};
    for (const Case& c : cases) {
        PulseAnalysis a;
        a.setSettings(plain());
        a.analyse(c.frame.pixels.data(), 8, 8, c.withPulse ? pulse : nullptr, c.withPulse ? 3 : 0);
        const PulseResults& r = a.results();
        EXPECT_EQ(r.counters.coincidences, c.coincidences) << c.name;
        uint64_t total = 0;
        double heights = 0;
        for (size_t i = 0; i < r.coincidence.values.size(); ++i) {
            total += r.coincidence.values[i];
            heights += r.heightSum.values[i];
        }
        EXPECT_EQ(total, c.coincidences) << c.name;
        EXPECT_EQ(heights, 40.0 * c.coincidences) << c.name;
    }
    // The centroid 2.5 rounds half up to 3; the enhanced index is 2.5 x 2 = 5.
    PulseAnalysis a;
    a.setSettings(plain());
    a.analyse(cases[0].frame.pixels.data(), 8, 8, pulse, 3);
    const PulseResults& r = a.results();
    EXPECT_EQ(r.coincidence.values[3 * 8 + 3], 1u);
    EXPECT_EQ(r.heightSquares.values[3 * 8 + 3], 1600.0);
    EXPECT_EQ(r.enhancedCoincidence.values[6 * 16 + 5], 1u);
    EXPECT_EQ(r.enhancedHeightSum.values[6 * 16 + 5], 40.0);
}

TEST(EnhancedImage, EdgesStayInBounds)
{
    EXPECT_EQ(enhancedSide(256, 1.3), 333u);
    EXPECT_EQ(enhancedIndex(255, 1.3, 333), 332u);
    EXPECT_EQ(enhancedIndex(255, 16, 256 * 16), 4080u);
    EXPECT_EQ(enhancedIndex(255.97, 16, 256 * 16), 4095u);
    EXPECT_EQ(enhancedIndex(1e300, 2, 10), 9u);
    EXPECT_EQ(enhancedIndex(std::nan(""), 2, 10), 0u);
    for (double factor : {1.0, 1.3, 2.5}) {
        PulseAnalysis a;
        PulseSettings s = plain();
        s.enhanceFactor = factor;
        a.setSettings(s);
        const Frame f = Frame(256, 256).set(255, 255, 9);
        a.analyse(f.pixels.data(), 256, 256, nullptr, 0);
        const auto& e = a.results().enhancedCount;
        ASSERT_EQ(e.width, enhancedSide(256, factor));
        uint64_t total = 0;
        for (uint32_t v : e.values)
            total += v;
        EXPECT_EQ(total, 1u) << factor;
    }
}

TEST(Accumulation, SizeOrFactorChangeStartsAfresh)
{
    PulseAnalysis a;
    a.setSettings(plain());
    const Frame small = Frame(4, 4).set(1, 1, 3);
    a.analyse(small.pixels.data(), 4, 4, nullptr, 0);
    EXPECT_EQ(a.results().counters.accepted, 1u);
    const Frame wide = Frame(8, 2).set(7, 1, 3);
    a.analyse(wide.pixels.data(), 8, 2, nullptr, 0);
    EXPECT_EQ(a.results().counters.accepted, 1u);
    EXPECT_EQ(a.results().count.width, 8u);
    EXPECT_EQ(a.results().count.values[15], 1u);

    PulseSettings s = plain();
    s.enhanceFactor = 3;
    a.setSettings(s);
    EXPECT_EQ(a.results().counters.accepted, 0u);
    EXPECT_EQ(a.results().enhancedCount.width, 24u);
    a.analyse(nullptr, 8, 2, nullptr, 0);
    a.analyse(wide.pixels.data(), 0, 0, nullptr, 0);
    EXPECT_EQ(a.results().counters.seen, 0u) << "a frame of no pixels changes nothing";
}

} // namespace
