// Cluster measurement, classification, thresholds and joining on small drawn frames.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "cluster_find.h"

namespace {

// A frame drawn with hits of value 1 (or a given value).
struct Canvas {
    int32_t width, height;
    std::vector<int16_t> data;
    Canvas(int32_t w, int32_t h) : width(w), height(h), data(static_cast<size_t>(w) * h, 0) {}
    void hit(int32_t x, int32_t y, int16_t v = 1)
    {
        if (x >= 0 && y >= 0 && x < width && y < height)
            data[static_cast<size_t>(y) * width + x] = v;
    }
    void rect(int32_t x0, int32_t y0, int32_t w, int32_t h)
    {
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x)
                hit(x, y);
    }
    void disc(int32_t cx, int32_t cy, int r)
    {
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx)
                if (dx * dx + dy * dy <= r * r)
                    hit(cx + dx, cy + dy);
    }
};

struct ClassCase {
    const char* name;
    std::function<void(Canvas&)> draw;
    int expected;
};

TEST(ClusterClasses, DrawnShapesGetTheirClassWithDefaultLimits)
{
    const std::vector<ClassCase> cases = {
        {"single pixel", [](Canvas& c) { c.hit(10, 10); }, kClassDot},
        {"2x1", [](Canvas& c) { c.rect(10, 10, 2, 1); }, kClassDot},
        {"2x2", [](Canvas& c) { c.rect(10, 10, 2, 2); }, kClassSmallBlob},
        {"disc radius 5", [](Canvas& c) { c.disc(30, 30, 5); }, kClassHeavyBlob},
        {"thick bar 30x3", [](Canvas& c) { c.rect(5, 20, 30, 3); }, kClassHeavyTrack},
        {"40-pixel line", [](Canvas& c) { c.rect(5, 30, 40, 1); }, kClassStraightTrack},
        {"40-pixel diagonal", [](Canvas& c) { for (int i = 0; i < 40; ++i) c.hit(5 + i, 5 + i); },
         kClassStraightTrack},
        {"40-pixel slope 1/3", [](Canvas& c) { for (int i = 0; i < 40; ++i) c.hit(5 + i, 10 + i / 3); },
         kClassStraightTrack},
        {"3-pixel line", [](Canvas& c) { c.rect(10, 10, 3, 1); }, kClassCurlyTrack},
        {"curl", [](Canvas& c) {
             // A ring of radius 6 with an opening, drawn one pixel wide.
             for (int a = 0; a < 300; a += 3) {
                 const double t = a * 3.14159265358979 / 180;
                 c.hit(30 + static_cast<int>(std::lround(6 * std::cos(t))),
                       30 + static_cast<int>(std::lround(6 * std::sin(t))));
             }
         },
         kClassCurlyTrack},
    };
    for (const ClassCase& k : cases) {
        SCOPED_TRACE(k.name);
        Canvas canvas(64, 64);
        k.draw(canvas);
        for (const bool recursive : {false, true}) {
            ClusterFind<int16_t> finder;
            finder.recursiveFill = recursive;
            ASSERT_EQ(finder.find(canvas.width, canvas.height, canvas.data.data()), 0);
            ASSERT_EQ(finder.clusterCount(), 1);
            EXPECT_EQ(finder.cluster(0)->clusterClass(), k.expected);
        }
    }
}

TEST(ClusterProperties, ThreeByThreeSquare)
{
    Canvas canvas(3, 3);
    canvas.rect(0, 0, 3, 3);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(3, 3, canvas.data.data()), 0);
    ASSERT_EQ(finder.clusterCount(), 1);
    ICluster& c = *finder.cluster(0);
    EXPECT_EQ(c.size(), 9);
    EXPECT_EQ(c.perimeter(), 12);
    EXPECT_EQ(c.innerCount(), 1);
    EXPECT_EQ(c.borderCount(), 8);
    EXPECT_DOUBLE_EQ(c.diameter(), std::sqrt(8.0));
    EXPECT_DOUBLE_EQ(c.centroidX(), 1.0);
    EXPECT_DOUBLE_EQ(c.centroidY(), 1.0);
    EXPECT_EQ(c.centreIndex(), 4);
    EXPECT_EQ(c.weightedCentreIndex(), 4);
    EXPECT_EQ(c.hullCount(), 4);
    EXPECT_EQ(c.xExtent(), 2);
    EXPECT_DOUBLE_EQ(c.extentDiagonal(), std::sqrt(8.0));
    EXPECT_DOUBLE_EQ(c.volume(), 9.0);
    EXPECT_DOUBLE_EQ(c.roundness(), 2 * std::sqrt(3.14159265358979323846 * 9) / 12);
}

TEST(ClusterProperties, HullOfAnLShapeAndWeightedCentre)
{
    // L shape: the inner corner is no hull point; the heavy pixel pulls the weighted centre.
    Canvas canvas(8, 8);
    canvas.rect(1, 1, 1, 4);
    canvas.rect(1, 4, 4, 1);
    canvas.hit(4, 4, 9);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(8, 8, canvas.data.data()), 0);
    ICluster& c = *finder.cluster(0);
    EXPECT_EQ(c.hullCount(), 3);
    EXPECT_DOUBLE_EQ(c.diameter(), std::sqrt(18.0));
    EXPECT_DOUBLE_EQ(c.meanX(), 13.0 / 7);
    EXPECT_DOUBLE_EQ(c.centroidX(), (1 * 4 + 2 + 3 + 9 * 4) / 15.0);
    EXPECT_DOUBLE_EQ(c.centroidY(), (1 + 2 + 3 + 4 + 4 + 4 + 9 * 4) / 15.0);
    EXPECT_EQ(c.weightedCentreIndex(), 4 * 8 + 3); // (3.0, 3.6) rounds to (3, 4)
}

TEST(ClusterEdges, NeighbourhoodsFillsAndFrameEdges)
{
    struct Case {
        const char* name;
        int32_t width, height;
        std::vector<std::pair<int, int>> hits;
        bool eight;
        int clusters;
    };
    const std::vector<Case> cases = {
        {"corner touch, 8 neighbours", 5, 5, {{1, 1}, {2, 2}}, true, 1},
        {"corner touch, 4 neighbours", 5, 5, {{1, 1}, {2, 2}}, false, 2},
        {"anti-diagonal, 8 neighbours", 5, 5, {{2, 1}, {1, 2}}, true, 1},
        {"anti-diagonal, 4 neighbours", 5, 5, {{2, 1}, {1, 2}}, false, 2},
        {"nothing in the window", 4, 3, {}, true, 0},
        {"one column", 1, 6, {{0, 0}, {0, 1}, {0, 4}}, true, 2},
        {"one row", 7, 1, {{0, 0}, {2, 0}, {3, 0}}, false, 2},
        {"U shape met from below", 5, 4, {{0, 0}, {4, 0}, {0, 1}, {4, 1}, {0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2}},
         false, 1},
    };
    for (const Case& k : cases)
        for (const bool recursive : {false, true}) {
            SCOPED_TRACE(std::string(k.name) + (recursive ? " recursive" : " scan-line"));
            Canvas canvas(k.width, k.height);
            for (auto [x, y] : k.hits)
                canvas.hit(x, y);
            ClusterFind<int16_t> finder;
            finder.eightNeighbours = k.eight;
            finder.recursiveFill = recursive;
            ASSERT_EQ(finder.find(k.width, k.height, canvas.data.data()), 0);
            EXPECT_EQ(finder.clusterCount(), k.clusters);
            for (int32_t i = 0; i < finder.pixelCount(); ++i)
                EXPECT_EQ(finder.labels()[i] == -2, canvas.data[static_cast<size_t>(i)] == 0) << "pixel " << i;
        }
}

TEST(ClusterEdges, RightEdgeSideCountsAsBorderAndSeedsLieOnNonSquareFrames)
{
    // A pixel at the right edge of a 7 x 3 frame: four border sides, none inner.
    Canvas canvas(7, 3);
    canvas.hit(6, 1);
    canvas.hit(2, 2);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(7, 3, canvas.data.data()), 0);
    ASSERT_EQ(finder.clusterCount(), 2);
    EXPECT_EQ(finder.cluster(0)->perimeter(), 4);
    EXPECT_EQ(finder.cluster(0)->pixelIndex(0), 13);
    EXPECT_EQ(finder.cluster(0)->minX(), 6);
    EXPECT_EQ(finder.cluster(0)->minY(), 1);
    EXPECT_EQ(finder.cluster(1)->minX(), 2);
    EXPECT_EQ(finder.cluster(1)->minY(), 2);
    EXPECT_EQ(finder.cluster(5), nullptr);
    EXPECT_EQ(finder.cluster(-1), nullptr);
    int32_t index = 0;
    double value = 0;
    EXPECT_EQ(finder.cluster(0)->pixel(1, &index, &value), -1);
    EXPECT_EQ(finder.cluster(0)->pixelIndex(1), 0);
}

TEST(ClusterThresholds, ClampedInTheTypesRangeAndNanRefused)
{
    struct Case {
        const char* name;
        double low, high;
        int rc;
        double lowSet, highSet; // for int16
    };
    const std::vector<Case> cases = {
        {"ordinary", 2, 100, 0, 2, 100},
        {"truncated", 2.9, 100.7, 0, 2, 100},
        {"huge upper end", 1, 1e300, 0, 1, 32767},
        {"huge lower end", -1e300, 5, 0, -32768, 5},
        {"infinite", -INFINITY, INFINITY, 0, -32768, 32767},
        {"NaN low", NAN, 5, -1, 7, 9},
        {"NaN high", 1, NAN, -1, 7, 9},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ClusterFind<int16_t> finder;
        finder.setThresholds(7, 9);
        EXPECT_EQ(finder.setThresholds(k.low, k.high), k.rc);
        EXPECT_EQ(finder.lowThreshold(), k.lowSet);
        EXPECT_EQ(finder.highThreshold(), k.highSet);
    }
    // The default upper end 1e300 finds the hits of every type.
    const int16_t s[3] = {0, 5, 32767};
    const uint32_t u[3] = {0, 5, 4294967295u};
    const double d[3] = {0, 5, 1e299};
    ClusterFind<int16_t> fs;
    ClusterFind<uint32_t> fu;
    ClusterFind<double> fd;
    for (IClusterFind* f : std::initializer_list<IClusterFind*>{&fs, &fu, &fd})
        ASSERT_EQ(f->setThresholds(1, 1e300), 0);
    ASSERT_EQ(fs.find(3, 1, s), 0);
    ASSERT_EQ(fu.find(3, 1, u), 0);
    ASSERT_EQ(fd.find(3, 1, d), 0);
    EXPECT_EQ(fs.cluster(0)->size(), 2);
    EXPECT_EQ(fu.cluster(0)->size(), 2);
    EXPECT_EQ(fd.cluster(0)->size(), 2);
    EXPECT_EQ(fu.lowThreshold(), 1);
    EXPECT_EQ(fu.highThreshold(), 4294967295.0);
}

TEST(ClusterRegressions, ZeroVolumeClusterHasItsPlainCentre)
{
    // Values summing to zero: the weighted centre would be 0/0.
    ClusterFind<double> finder;
    finder.setThresholds(-5, 5);
    const double frame[6] = {NAN, 2, -2, NAN, NAN, NAN};
    ASSERT_EQ(finder.find(3, 2, frame), 0);
    ASSERT_EQ(finder.clusterCount(), 1);
    ICluster& c = *finder.cluster(0);
    EXPECT_EQ(c.volume(), 0.0);
    EXPECT_DOUBLE_EQ(c.centroidX(), 1.5);
    EXPECT_DOUBLE_EQ(c.centroidY(), 0.0);
    EXPECT_EQ(c.weightedCentreIndex(), 2);
}

TEST(ClusterRegressions, SmallClusterNeverCarriesAPeakOfAnEarlierFrame)
{
    // Frame 1: a straight line (peak 40). Frame 2, same finder: a 3-pixel line is too short for the
    // transform; its peak must be 0, not the line's, or it would pass as a straight track.
    Canvas line(64, 8);
    line.rect(2, 3, 40, 1);
    Canvas shortLine(64, 8);
    shortLine.rect(2, 3, 3, 1);
    ClusterFind<int16_t> finder;
    finder.LimStraightTrackHtMax = 1;
    finder.LimStraightTrackHtMaxRatio = 0.1;
    ASSERT_EQ(finder.find(64, 8, line.data.data()), 0);
    EXPECT_EQ(finder.cluster(0)->houghHeight(), 40);
    EXPECT_NEAR(finder.cluster(0)->houghAngle(), 3.14159265358979 / 2, 0.05);
    ASSERT_EQ(finder.find(64, 8, shortLine.data.data()), 0);
    EXPECT_EQ(finder.cluster(0)->houghHeight(), 0);
    EXPECT_EQ(finder.cluster(0)->clusterClass(), kClassCurlyTrack);
}

void* findAllHit(void* arg)
{
    auto* result = static_cast<int*>(arg);
    std::vector<int16_t> frame(512 * 512, 100);
    ClusterFind<int16_t> finder;
    finder.recursiveFill = true;
    *result = finder.find(512, 512, frame.data()) == 0 && finder.clusterCount() == 1 &&
                      finder.cluster(0)->size() == 512 * 512 && finder.cluster(0)->innerCount() == 510 * 510 &&
                      finder.cluster(0)->clusterClass() == kClassHeavyTrack
                  ? 1
                  : 0;
    return nullptr;
}

TEST(ClusterRegressions, AllHitFrameInAWorkerWithASmallStackBothFills)
{
    // 262,144 connected pixels: a fill that recursed once per pixel would overflow the worker's stack.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    int result = 0;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, findAllHit, &result), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(result, 1);

    std::vector<int16_t> frame(512 * 512, 100);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(512, 512, frame.data()), 0);
    ASSERT_EQ(finder.clusterCount(), 1);
    EXPECT_EQ(finder.cluster(0)->size(), 512 * 512);
    EXPECT_EQ(finder.cluster(0)->perimeter(), 4 * 512);
}

TEST(ClusterRegressions, BadFrameSizesAreRefused)
{
    const int16_t one = 5;
    ClusterFind<int16_t> finder;
    EXPECT_EQ(finder.find(-1, 5, &one), -1);
    EXPECT_EQ(finder.find(70000, 70000, &one), -1);
    EXPECT_EQ(finder.find(1, 1, nullptr), -1);
    EXPECT_EQ(finder.clusterCount(), 0);
    EXPECT_EQ(finder.find(0, 0, nullptr), 0);
    EXPECT_EQ(finder.find(1, 1, &one), 0);
    EXPECT_EQ(finder.clusterCount(), 1);
}

TEST(ClusterJoin, CloseSmallClustersMergeFarOnesDoNot)
{
    struct Case {
        const char* name;
        int gap; // pixels between two dots on one row
        int clusters;
    };
    const std::vector<Case> cases = {{"2 px apart", 2, 1}, {"20 px apart", 20, 2}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Canvas canvas(64, 16);
        canvas.hit(10, 8);
        canvas.hit(10 + k.gap, 8);
        ClusterFind<int16_t> finder;
        ASSERT_EQ(finder.find(64, 16, canvas.data.data()), 0);
        ASSERT_EQ(finder.clusterCount(), 2);
        ASSERT_EQ(finder.joinSmallClusters(), 0);
        ASSERT_EQ(finder.clusterCount(), k.clusters);
        EXPECT_EQ(finder.cluster(0)->volume(), 1.0 * (3 - k.clusters));
    }
}

TEST(ClusterJoin, CompactionRelabelsTheClustersItMoves)
{
    // Clusters 0 and 1 join (1's slot empties), 2 is a heavy blob far away, 3 a lone dot: the last cluster
    // fills the empty slot, and the label map must follow it.
    Canvas canvas(80, 40);
    canvas.hit(5, 5);
    canvas.hit(7, 5);
    canvas.disc(40, 20, 5);
    canvas.hit(70, 35);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(80, 40, canvas.data.data()), 0);
    ASSERT_EQ(finder.clusterCount(), 4);
    ASSERT_EQ(finder.joinSmallClusters(), 0);
    ASSERT_EQ(finder.clusterCount(), 3);
    for (int i = 0; i < finder.clusterCount(); ++i) {
        const ICluster& c = *finder.cluster(i);
        for (int p = 0; p < c.size(); ++p)
            EXPECT_EQ(finder.labels()[c.pixelIndex(p)], i) << "cluster " << i;
    }
    EXPECT_EQ(finder.cluster(0)->size(), 2);
    EXPECT_EQ(finder.cluster(0)->clusterClass(), kClassDot);
}

TEST(ClusterJoin, BadKernelIsRefusedAndChangesNothing)
{
    struct Case {
        const char* name;
        int32_t taps;
        double sigma;
    };
    const std::vector<Case> cases = {
        {"no taps", 0, 1.0}, {"negative taps", -3, 1.0}, {"zero sigma", 5, 0.0},
        {"negative sigma", 5, -1.0}, {"NaN sigma", 5, NAN},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Canvas canvas(16, 4);
        canvas.hit(2, 1);
        canvas.hit(4, 1);
        ClusterFind<int16_t> finder;
        ASSERT_EQ(finder.find(16, 4, canvas.data.data()), 0);
        finder.JoinMaskSize = k.taps;
        finder.JoinSigma = k.sigma;
        EXPECT_EQ(finder.joinSmallClusters(), -1);
        EXPECT_EQ(finder.clusterCount(), 2);
    }
}

} // namespace
