// Cluster finding on 256 x 256 and 512 x 512 frames at 0.1, 1, 10 and 50 % occupancy, random dots and a mix
// of dots, blobs and tracks, 8 neighbours. For each frame, in this order:
//   threshold+init  the pass that every labelling needs: window test and label-map initialisation (baseline);
//   label           the first stage of find: labelling with the per-cluster accumulators;
//   opencv          connectedComponentsWithStats on the same frame pre-thresholded to a mask (8-conn,
//                   CV_32S, one thread), when the benchmark was built with OpenCV (make bench installs it);
//   measure         the second stage: sort, perimeter, inner count, hull, diameter, Hough when needed, class;
//   find            both stages.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "plugins/Clusterer/cluster_find.h"

#ifdef OMBREL_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

std::vector<int16_t> makeFrame(int side, double occupancy, bool mixed)
{
    std::mt19937 rng(static_cast<uint32_t>(side * 1000 + occupancy * 100 + mixed));
    std::vector<int16_t> frame(static_cast<size_t>(side) * side, 0);
    std::uniform_int_distribution<int> pos(0, side - 1), value(1, 500);
    const size_t target = static_cast<size_t>(occupancy * static_cast<double>(frame.size()));
    size_t hits = 0;
    auto hit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= side || y >= side)
            return;
        int16_t& p = frame[static_cast<size_t>(y) * side + x];
        hits += p == 0;
        p = static_cast<int16_t>(value(rng));
    };
    int shape = 0;
    while (hits < target) {
        const int x = pos(rng), y = pos(rng);
        if (!mixed || shape % 3 == 0) {
            hit(x, y);
        } else if (shape % 3 == 1) {
            const int r = 1 + shape % 4;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx)
                    if (dx * dx + dy * dy <= r * r)
                        hit(x + dx, y + dy);
        } else {
            const double a = (shape % 17) * 0.37;
            for (int k = 0; k < 30; ++k)
                hit(x + static_cast<int>(k * std::cos(a)), y + static_cast<int>(k * std::sin(a)));
        }
        ++shape;
    }
    return frame;
}

struct Case {
    int side;
    double occupancy;
    bool mixed;
    std::vector<int16_t> frame;
    std::string name() const
    {
        char text[64];
        std::snprintf(text, sizeof text, "%dx%d/%g%%/%s", side, side, occupancy * 100,
                      mixed ? "dots+blobs+tracks" : "dots");
        return text;
    }
};

void thresholdInit(benchmark::State& state, const Case* c)
{
    std::vector<int32_t> labels(c->frame.size());
    const int16_t lo = 1, hi = 32767;
    for (auto _ : state) {
        const int16_t* v = c->frame.data();
        int32_t* l = labels.data();
        for (size_t i = 0; i < labels.size(); ++i)
            l[i] = (v[i] >= lo) & (v[i] <= hi) ? -1 : -2;
        benchmark::DoNotOptimize(labels.data());
        benchmark::ClobberMemory();
    }
}

void labelStage(benchmark::State& state, const Case* c)
{
    ClusterFind<int16_t> finder;
    for (auto _ : state) {
        finder.label(c->side, c->side, c->frame.data());
        benchmark::DoNotOptimize(finder.clusterCount());
    }
    state.counters["clusters"] = finder.clusterCount();
}

void measureStage(benchmark::State& state, const Case* c)
{
    ClusterFind<int16_t> finder;
    for (auto _ : state) {
        state.PauseTiming();
        finder.label(c->side, c->side, c->frame.data());
        state.ResumeTiming();
        finder.measure();
        benchmark::DoNotOptimize(finder.clusterCount());
    }
}

void fullFind(benchmark::State& state, const Case* c)
{
    ClusterFind<int16_t> finder;
    for (auto _ : state) {
        finder.find(c->side, c->side, c->frame.data());
        benchmark::DoNotOptimize(finder.clusterCount());
    }
}

void opencvLabel(benchmark::State& state, const Case* c)
{
#ifdef OMBREL_HAVE_OPENCV
    cv::setNumThreads(1);
    cv::Mat values(c->side, c->side, CV_16S, const_cast<int16_t*>(c->frame.data()));
    cv::Mat mask = values >= 1; // the window [1, 32767] of the finder
    cv::Mat labels, stats, centroids;
    for (auto _ : state) {
        const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
        benchmark::DoNotOptimize(n);
    }
#else
    (void)c;
    for (auto _ : state) {
    }
    state.SkipWithError("OpenCV not installed: make bench installs libopencv-dev");
#endif
}

std::vector<Case>& cases()
{
    static std::vector<Case> all;
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    for (const int side : {256, 512})
        for (const double occupancy : {0.001, 0.01, 0.1, 0.5})
            for (const bool mixed : {false, true})
                cases().push_back(Case{side, occupancy, mixed, makeFrame(side, occupancy, mixed)});
    for (const Case& c : cases()) {
        const std::string n = c.name();
        benchmark::RegisterBenchmark((n + "/threshold+init").c_str(), thresholdInit, &c)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((n + "/label").c_str(), labelStage, &c)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((n + "/opencv").c_str(), opencvLabel, &c)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((n + "/measure").c_str(), measureStage, &c)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((n + "/find").c_str(), fullFind, &c)->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
