// The finder's labelling against a plain breadth-first labeller of this test, on random frames of every
// shape the detector produces (dots, blobs, tracks, mixed), for every element type, both neighbourhoods
// and both fills: a wrong run bound, a missed diagonal or a row never seeded shows as a different label
// map; a wrong accumulator as a different size, volume or extreme.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cluster_find.h"

namespace {

struct Frame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<double> values; // the element values, each representable in every type used
    double low = 1;
    double high = 1e300;
    std::string kind;
};

struct RefCluster {
    int size = 0;
    double volume = 0;
    double lowest = 0, highest = 0;
    int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
};

struct Reference {
    std::vector<int32_t> labels;
    std::vector<RefCluster> clusters;
};

Reference labelByBfs(const Frame& f, bool eight)
{
    Reference ref;
    const int32_t w = f.width, h = f.height;
    ref.labels.assign(f.values.size(), -1);
    auto inWindow = [&](size_t i) { return f.values[i] >= f.low && f.values[i] <= f.high; };
    for (size_t i = 0; i < f.values.size(); ++i)
        if (!inWindow(i))
            ref.labels[i] = -2;
    std::vector<int32_t> queue; // the members of the cluster being labelled, in visiting order
    for (size_t i = 0; i < f.values.size(); ++i) {
        if (ref.labels[i] != -1)
            continue;
        const int32_t id = static_cast<int32_t>(ref.clusters.size());
        queue.assign(1, static_cast<int32_t>(i));
        ref.labels[i] = id;
        for (size_t head = 0; head < queue.size(); ++head) {
            const int32_t p = queue[head];
            const int32_t x = p % w, y = p / w;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if ((dx == 0 && dy == 0) || (!eight && dx != 0 && dy != 0))
                        continue;
                    const int32_t nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                        continue;
                    const int32_t q = ny * w + nx;
                    if (ref.labels[static_cast<size_t>(q)] == -1) {
                        ref.labels[static_cast<size_t>(q)] = id;
                        queue.push_back(q);
                    }
                }
        }
        RefCluster c;
        c.size = static_cast<int>(queue.size());
        c.minX = c.minY = std::numeric_limits<int32_t>::max();
        c.maxX = c.maxY = std::numeric_limits<int32_t>::min();
        c.lowest = std::numeric_limits<double>::infinity();
        c.highest = -c.lowest;
        for (int32_t p : queue) {
            const double v = f.values[static_cast<size_t>(p)];
            c.volume += v;
            c.lowest = std::min(c.lowest, v);
            c.highest = std::max(c.highest, v);
            c.minX = std::min(c.minX, p % w);
            c.maxX = std::max(c.maxX, p % w);
            c.minY = std::min(c.minY, p / w);
            c.maxY = std::max(c.maxY, p / w);
        }
        ref.clusters.push_back(c);
    }
    return ref;
}

// Values are small integers or quarters, so that sums are exact in any order.
Frame randomFrame(std::mt19937& rng, bool negatives, bool nans)
{
    Frame f;
    // Sizes from 1 x 1 to 300 x 200. Most frames are at most 40 x 30, small sizes the most often: they
    // hold the edge cases (single rows and columns, runs at both edges, clusters filling the frame) and
    // keep the sanitizer runs short. One in forty spans the whole range, for long runs and deep fills.
    std::uniform_real_distribution<double> unit(0, 1);
    const double su = unit(rng), sv = unit(rng);
    const bool large = unit(rng) < 0.025;
    f.width = 1 + static_cast<int32_t>((large ? 299.999 : 39.999) * (large ? su : su * su));
    f.height = 1 + static_cast<int32_t>((large ? 199.999 : 29.999) * (large ? sv : sv * sv));
    const double occupancy = std::uniform_real_distribution<double>(0.001, 0.6)(rng);
    f.values.assign(static_cast<size_t>(f.width) * f.height, 0.0);
    std::uniform_int_distribution<int> value(1, 4000);
    size_t occupied = 0;
    auto hit = [&](int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= f.width || y >= f.height)
            return;
        occupied += f.values[static_cast<size_t>(y) * f.width + x] == 0;
        double v = value(rng);
        if (nans)
            v /= 4;
        if (negatives && value(rng) % 7 == 0)
            v = -v / 8;
        f.values[static_cast<size_t>(y) * f.width + x] = v;
    };
    const size_t target = static_cast<size_t>(occupancy * static_cast<double>(f.values.size()));
    std::uniform_int_distribution<int32_t> px(0, f.width - 1), py(0, f.height - 1);
    const int kind = std::uniform_int_distribution<int>(0, 3)(rng);
    const char* kinds[] = {"dots", "blobs", "tracks", "mixed"};
    f.kind = kinds[kind];
    size_t guard = 0;
    while (occupied < target && ++guard < 4000) {
        const int shape = kind == 3 ? std::uniform_int_distribution<int>(0, 2)(rng) : kind;
        const int32_t x = px(rng), y = py(rng);
        if (shape == 0) {
            for (int k = 0; k < 16; ++k)
                hit(px(rng), py(rng));
        } else if (shape == 1) {
            const int r = std::uniform_int_distribution<int>(1, 6)(rng);
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx)
                    if (dx * dx + dy * dy <= r * r)
                        hit(x + dx, y + dy);
        } else {
            const double angle = std::uniform_real_distribution<double>(0, 6.3)(rng);
            const int length = std::uniform_int_distribution<int>(3, 80)(rng);
            double cx = x, cy = y, a = angle;
            for (int k = 0; k < length; ++k) {
                hit(static_cast<int32_t>(std::lround(cx)), static_cast<int32_t>(std::lround(cy)));
                a += std::uniform_real_distribution<double>(-0.3, 0.3)(rng);
                cx += std::cos(a);
                cy += std::sin(a);
            }
        }
    }
    if (nans) {
        std::bernoulli_distribution nan(0.02);
        for (double& v : f.values)
            if (nan(rng))
                v = std::numeric_limits<double>::quiet_NaN();
    }
    // Windows: the usual one, one that takes in negative values, one with an upper end.
    switch (std::uniform_int_distribution<int>(0, 2)(rng)) {
    case 0: f.low = 1; f.high = 1e300; break;
    case 1: f.low = negatives ? -300 : 0.25; f.high = 1e300; break;
    default: f.low = 50; f.high = 2500; break;
    }
    return f;
}

template <typename T>
std::vector<T> asType(const std::vector<double>& values)
{
    std::vector<T> out(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        out[i] = static_cast<T>(values[i]);
    return out;
}

// The first pixel whose label differs from the reference's, or -1.
int64_t firstLabelMismatch(const IClusterFind& finder, const std::vector<int32_t>& expected)
{
    if (static_cast<size_t>(finder.pixelCount()) != expected.size())
        return 0;
    const auto at = std::mismatch(expected.begin(), expected.end(), finder.labels());
    return at.first == expected.end() ? -1 : at.first - expected.begin();
}

// The finder is the test's one of its type: it starts each frame with the clusters and label map of the
// frame before, of another size.
template <typename T>
void checkFrame(ClusterFind<T>& finder, const Frame& original, const std::string& name)
{
    // The reference sees what the finder sees: the values and the window in the element type.
    const std::vector<T> data = asType<T>(original.values);
    ASSERT_EQ(finder.setThresholds(original.low, original.high), 0);
    Frame f = original;
    for (size_t i = 0; i < data.size(); ++i)
        f.values[i] = static_cast<double>(data[i]);
    f.low = finder.lowThreshold();
    f.high = finder.highThreshold();
    const Reference ref4 = labelByBfs(f, false);
    const Reference ref8 = labelByBfs(f, true);
    for (const bool eight : {false, true})
        for (const bool recursive : {false, true}) {
            SCOPED_TRACE(name + (eight ? " 8-conn" : " 4-conn") + (recursive ? " recursive" : " scan-line"));
            const Reference& ref = eight ? ref8 : ref4;
            finder.eightNeighbours = eight;
            finder.recursiveFill = recursive;
            ASSERT_EQ(finder.label(f.width, f.height, data.data()), 0);
            ASSERT_EQ(firstLabelMismatch(finder, ref.labels), -1) << f.width << " x " << f.height;
            ASSERT_EQ(finder.clusterCount(), static_cast<int>(ref.clusters.size()));
            for (int i = 0; i < finder.clusterCount(); ++i) {
                const ICluster& c = *finder.cluster(i);
                const RefCluster& r = ref.clusters[static_cast<size_t>(i)];
                ASSERT_EQ(c.size(), r.size) << "cluster " << i;
                ASSERT_EQ(c.volume(), r.volume) << "cluster " << i;
                ASSERT_EQ(c.lowest(), r.lowest) << "cluster " << i;
                ASSERT_EQ(c.highest(), r.highest) << "cluster " << i;
                ASSERT_EQ(c.minX(), r.minX) << "cluster " << i;
                ASSERT_EQ(c.maxX(), r.maxX) << "cluster " << i;
                ASSERT_EQ(c.minY(), r.minY) << "cluster " << i;
                ASSERT_EQ(c.maxY(), r.maxY) << "cluster " << i;
            }
        }
}

TEST(ClusterDifferential, LabelsSizesVolumesAndExtremesEqualTheReferenceLabeller)
{
    std::mt19937 rng(20261210);
    ClusterFind<int16_t> finder16;
    ClusterFind<uint32_t> finder32;
    ClusterFind<double> finderD;
    for (int n = 0; n < 1000; ++n) {
        // The same layout for each type: signed values with negatives for int16, NaN and quarters for double.
        const uint32_t seed = static_cast<uint32_t>(rng());
        std::mt19937 r16(seed), r32(seed), rd(seed);
        const std::string name = "frame " + std::to_string(n);
        const Frame f16 = randomFrame(r16, true, false);
        checkFrame(finder16, f16, name + " int16 " + f16.kind);
        const Frame f32 = randomFrame(r32, false, false);
        checkFrame(finder32, f32, name + " uint32 " + f32.kind);
        const Frame fd = randomFrame(rd, true, true);
        checkFrame(finderD, fd, name + " double " + fd.kind);
        if (HasFatalFailure())
            return;
    }
}

// After the shape stage every cluster's records are in pixel order, still carry their cluster's label,
// and the accumulated values stand unchanged.
TEST(ClusterDifferential, MeasureKeepsLabelsAndSortsEachClustersPixels)
{
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        Frame f = randomFrame(rng, true, false);
        if (f.values.size() > 20000)
            continue;
        const std::vector<int16_t> data = asType<int16_t>(f.values);
        ClusterFind<int16_t> finder;
        finder.setThresholds(f.low, f.high);
        for (size_t i = 0; i < data.size(); ++i)
            f.values[i] = data[i];
        f.low = finder.lowThreshold();
        f.high = finder.highThreshold();
        const Reference ref = labelByBfs(f, true);
        ASSERT_EQ(finder.find(f.width, f.height, data.data()), 0);
        ASSERT_EQ(firstLabelMismatch(finder, ref.labels), -1);
        for (int i = 0; i < finder.clusterCount(); ++i) {
            const Cluster<int16_t>& c = *finder.typedCluster(i);
            ASSERT_EQ(c.size(), ref.clusters[static_cast<size_t>(i)].size);
            ASSERT_EQ(c.volume(), ref.clusters[static_cast<size_t>(i)].volume);
            ASSERT_EQ(c.minX(), ref.clusters[static_cast<size_t>(i)].minX);
            ASSERT_EQ(c.maxY(), ref.clusters[static_cast<size_t>(i)].maxY);
            for (size_t k = 0; k < c.pixels().size(); ++k) {
                ASSERT_EQ(finder.labels()[c.pixels()[k].index], i);
                if (k > 0) {
                    ASSERT_LT(c.pixels()[k - 1].index, c.pixels()[k].index);
                }
            }
        }
    }
}

} // namespace
