// What the cluster list answers: filters, spectra (bin edges, refused steps), rendering and the list file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cluster_find.h"
#include "ombrel_test_support.h"
#include "platform/syserror.h"

namespace {

// Isolated one-pixel clusters on one row of a double frame, each with the given value (= its volume),
// every second pixel empty.
void findDots(ClusterFind<double>& finder, const std::vector<double>& volumes, std::vector<double>& frame)
{
    frame.assign(volumes.size() * 2, NAN);
    for (size_t i = 0; i < volumes.size(); ++i)
        frame[2 * i] = volumes[i];
    finder.setThresholds(-1e300, 1e300);
    EXPECT_EQ(finder.find(static_cast<int32_t>(frame.size()), 1, frame.data()), 0);
    EXPECT_EQ(finder.clusterCount(), static_cast<int>(volumes.size()));
}

// Horizontal runs of the given lengths on one row, one pixel apart.
std::vector<int16_t> runsOfSizes(const std::vector<int>& sizes, int32_t& width)
{
    std::vector<int16_t> frame;
    for (int s : sizes) {
        frame.insert(frame.end(), static_cast<size_t>(s), 10);
        frame.push_back(0);
    }
    width = static_cast<int32_t>(frame.size());
    return frame;
}

TEST(ClusterSpectra, SizeSpectrumCountsOnlySizesInsideItsRange)
{
    // Sizes 1 and 5 lie outside [2, 5): counting size 1 would write before the first bin.
    int32_t width = 0;
    const std::vector<int16_t> frame = runsOfSizes({1, 2, 4, 5, 2}, width);
    ClusterFind<int16_t> finder;
    finder.eightNeighbours = false;
    ASSERT_EQ(finder.find(width, 1, frame.data()), 0);
    std::vector<int32_t> bins(5, 0);
    ASSERT_EQ(finder.sizeSpectrum(bins.data() + 1, 2, 3, nullptr), 0);
    EXPECT_EQ(bins, (std::vector<int32_t>{0, 2, 0, 1, 0}));
}

TEST(ClusterSpectra, VolumeBinsByFloorWithTheRangeCheckedFirst)
{
    struct Case {
        const char* name;
        double volume;
        int bin; // -1: not counted
    };
    const std::vector<Case> cases = {
        {"just below from", 7, -1},      {"at from", 10, 0},           {"inside bin 2", 24.9, 2},
        {"last bin", 29.9, 3},           {"end of the range", 30, -1}, {"huge", 1e300, -1},
        {"hugely negative", -1e300, -1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<double> frame;
        ClusterFind<double> finder;
        findDots(finder, {k.volume}, frame);
        std::vector<int32_t> bins(6, 0);
        ASSERT_EQ(finder.volumeSpectrum(bins.data() + 1, 10, 5, 4, nullptr), 0);
        std::vector<int32_t> expected(6, 0);
        if (k.bin >= 0)
            expected[static_cast<size_t>(k.bin) + 1] = 1;
        EXPECT_EQ(bins, expected);
    }
}

TEST(ClusterSpectra, RefusedStepsAndRowsChangeNoBin)
{
    std::vector<double> frame;
    ClusterFind<double> finder;
    findDots(finder, {12, 40}, frame);
    std::vector<int32_t> bins(4, 0);
    std::vector<int32_t> row0(64, 0), row1(64, 0);
    int32_t* rows[2] = {row0.data(), row1.data()};
    for (const double step : {0.0, -5.0, double(NAN), double(INFINITY)}) {
        EXPECT_EQ(finder.volumeSpectrum(bins.data(), 10, step, 4, nullptr), -1);
        EXPECT_EQ(finder.volumeSpectrumBySize(rows, 2, 10, step, 4, nullptr), -1);
        EXPECT_EQ(finder.perPixelVolumeSpectrum(rows, 64, 10, step, 2, nullptr), -1);
    }
    EXPECT_EQ(finder.perPixelVolumeSpectrum(rows, 3, 10, 50, 2, nullptr), -1); // row shorter than the frame
    EXPECT_EQ(bins, std::vector<int32_t>(4, 0));
    EXPECT_EQ(row0, std::vector<int32_t>(64, 0));
    EXPECT_EQ(row1, std::vector<int32_t>(64, 0));
}

TEST(ClusterSpectra, BySizeAndPerPixelRows)
{
    // Sizes 1, 2, 2, 3 with volumes 10, 20, 20, 30: by size up to 2 (size 3 left out); per pixel at the
    // weighted centres.
    int32_t width = 0;
    const std::vector<int16_t> frame = runsOfSizes({1, 2, 2, 3}, width);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(width, 1, frame.data()), 0);
    std::vector<int32_t> size1(4, 0), size2(4, 0);
    int32_t* rows[2] = {size1.data(), size2.data()};
    ASSERT_EQ(finder.volumeSpectrumBySize(rows, 2, 0, 10, 4, nullptr), 0);
    EXPECT_EQ(size1, (std::vector<int32_t>{0, 1, 0, 0}));
    EXPECT_EQ(size2, (std::vector<int32_t>{0, 0, 2, 0}));

    std::vector<std::vector<int32_t>> perPixel(4, std::vector<int32_t>(static_cast<size_t>(width), 0));
    int32_t* pr[4] = {perPixel[0].data(), perPixel[1].data(), perPixel[2].data(), perPixel[3].data()};
    ASSERT_EQ(finder.perPixelVolumeSpectrum(pr, width, 0, 10, 4, nullptr), 0);
    EXPECT_EQ(perPixel[1][0], 1); // size 1 at x 0
    EXPECT_EQ(perPixel[2][3], 1); // x 2..3: centre 2.5 rounds to 3
    EXPECT_EQ(perPixel[2][6], 1); // x 5..6
    EXPECT_EQ(perPixel[3][9], 1); // x 8..10, volume 30 is bin 3
}

TEST(ClusterSpectra, PerPixelSkipsAWeightedCentreOutsideTheFrame)
{
    // Values 3 and -2 at x 0 and 1: the weighted centre lies at x -2, outside every row.
    const double frame[3] = {3, -2, NAN};
    ClusterFind<double> finder;
    finder.setThresholds(-10, 10);
    ASSERT_EQ(finder.find(3, 1, frame), 0);
    EXPECT_EQ(finder.cluster(0)->weightedCentreIndex(), -1);
    std::vector<int32_t> row(3, 0);
    int32_t* rows[1] = {row.data()};
    ASSERT_EQ(finder.perPixelVolumeSpectrum(rows, 3, 0, 10, 1, nullptr), 0);
    EXPECT_EQ(row, std::vector<int32_t>(3, 0));
}

TEST(ClusterFilters, FilterFieldsInvertAndCounts)
{
    // Sizes 1, 2, 4 (classes 1, 1, 3) with volumes 10, 20, 40.
    int32_t width = 0;
    const std::vector<int16_t> frame = runsOfSizes({1, 2, 4}, width);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(width, 1, frame.data()), 0);
    struct Case {
        const char* name;
        ClusterFilter filter;
        std::vector<int32_t> passing;
    };
    ClusterFilter all;
    ClusterFilter sizes = all;
    sizes.minSize = 2;
    ClusterFilter classes = all;
    classes.classMask = 1 << kClassCurlyTrack;
    ClusterFilter volume = all;
    volume.maxVolume = 20;
    ClusterFilter height = all;
    height.maxHeight = 9;
    ClusterFilter inverted = volume;
    inverted.invert = true;
    const std::vector<Case> cases = {
        {"all", all, {0, 1, 2}},       {"min size", sizes, {1, 2}}, {"class mask", classes, {2}},
        {"max volume", volume, {0, 1}}, {"max height", height, {}}, {"inverted", inverted, {2}},
    };
    for (Case k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<int32_t> indexes(3, -1);
        const int n = finder.countMatching(&k.filter, indexes.data());
        indexes.resize(static_cast<size_t>(n));
        EXPECT_EQ(indexes, k.passing);
        EXPECT_EQ(k.filter.passed, n);
        EXPECT_EQ(k.filter.failed, 3 - n);
        int32_t counts[kClassCount];
        finder.classCounts(counts, &k.filter);
        int total = 0;
        for (int c = 0; c < kClassCount; ++c)
            total += counts[c];
        EXPECT_EQ(total, n);
    }
    EXPECT_EQ(finder.countMatching(nullptr, nullptr), 3);
    int32_t counts[kClassCount];
    finder.classCounts(counts, nullptr);
    EXPECT_EQ(counts[kClassDot], 2);
    EXPECT_EQ(counts[kClassCurlyTrack], 1);
}

TEST(ClusterRender, ClassesThenTheHighlightedCluster)
{
    int32_t width = 0;
    const std::vector<int16_t> frame = runsOfSizes({1, 4}, width);
    ClusterFind<int16_t> finder;
    ASSERT_EQ(finder.find(width, 1, frame.data()), 0);
    std::vector<int16_t> out(static_cast<size_t>(width), 77);
    int32_t passed = -1, failed = -1;
    EXPECT_EQ(finder.render(out.data(), width - 1, -1, 0, nullptr, &passed, &failed), -1);
    ASSERT_EQ(finder.render(out.data(), width, 0, 9, nullptr, &passed, &failed), 0);
    EXPECT_EQ(out, (std::vector<int16_t>{9, 0, 3, 3, 3, 3, 0}));
    EXPECT_EQ(passed, 2);
    EXPECT_EQ(failed, 0);
    ClusterFilter dotsOnly;
    dotsOnly.classMask = 1 << kClassDot;
    ASSERT_EQ(finder.render(out.data(), width, 5, 9, &dotsOnly, &passed, &failed), 0);
    EXPECT_EQ(out, (std::vector<int16_t>{1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(passed, 1);
    EXPECT_EQ(failed, 1);
}

TEST(ClusterList, LinesPerTypeAppendReplaceAndFailure)
{
    const std::string dir = ombrel_test::scratchDir("clusterer-list");
    const std::string path = dir + "/list.txt";

    const double dframe[4] = {0.1, 1.0 / 3, NAN, 2.5e-12};
    ClusterFind<double> d;
    d.setThresholds(-1, 1);
    ASSERT_EQ(d.find(4, 1, dframe), 0);
    ASSERT_EQ(d.writeClusterList(path, false, nullptr), 0);
    EXPECT_EQ(ombrel_test::readFile(path), "[0 0 0.1] [1 0 0.3333333333] \n[3 0 2.5e-12] \n");

    const uint32_t uframe[6] = {0, 4000000000u, 0, 0, 7, 7};
    ClusterFind<uint32_t> u;
    ASSERT_EQ(u.find(3, 2, uframe), 0);
    ASSERT_EQ(u.writeClusterList(path, true, nullptr), 0);
    EXPECT_EQ(ombrel_test::readFile(path),
              "[0 0 0.1] [1 0 0.3333333333] \n[3 0 2.5e-12] \n[1 0 4000000000] [1 1 7] [2 1 7] \n");

    ClusterFilter none;
    none.classMask = 0;
    ASSERT_EQ(u.writeClusterList(path, false, &none), 0);
    EXPECT_EQ(ombrel_test::readFile(path), "");
    EXPECT_EQ(none.failed, 1);

    std::string error;
    for (const bool append : {false, true}) {
        EXPECT_EQ(u.writeClusterList(dir + "/missing/list.txt", append, nullptr, &error), -1);
        EXPECT_EQ(error, plat::systemErrorText(ENOENT));
    }
}

TEST(ClusterNames, ClassTexts)
{
    EXPECT_STREQ(clusterClassName(kClassDot), "Dot (X-ray) (1) #");
    EXPECT_STREQ(clusterClassName(kClassStraightTrack), "Straight track (MIP) (6) #");
    EXPECT_STREQ(clusterClassLabel(kClassHeavyBlob), "Heavy blobs");
    EXPECT_STREQ(clusterClassLabel(7), "");
    EXPECT_STREQ(clusterClassName(-1), "");
}

TEST(ClusterFactory, TypeCodesPickTheInstantiation)
{
    for (const int type : {4, 7, 9}) {
        const std::unique_ptr<IClusterFind> f = makeClusterFind(type);
        ASSERT_TRUE(f);
        EXPECT_EQ(clusterFindType(*f), type);
    }
    for (const int type : {0, 5, 6, 8, 10})
        EXPECT_FALSE(makeClusterFind(type)) << type;
}

} // namespace
