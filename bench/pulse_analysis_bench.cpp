// The back-side pulse analysis of one 256 x 256 frame with 10 clusters and 450 scope samples (baseline,
// pulse height, spectrum, cluster finding, acceptance and the images), beside one pass that counts the
// pixels at or above the threshold in the same frame (target: within 4x). x_count is the analysis time
// over the counting pass's, both measured in the same run (CPU time).
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <vector>

#include "plugins/PulseScan/pulse_analysis.h"

namespace {

constexpr unsigned kSide = 256;
constexpr uint16_t kThreshold = 5;

struct Setup {
    std::vector<uint16_t> frame = std::vector<uint16_t>(kSide * kSide, 0);
    std::vector<uint16_t> samples = std::vector<uint16_t>(450);
    Setup()
    {
        for (unsigned i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<uint16_t>((i * 2654435761u) >> 30); // noise 0..3, below the threshold
        for (unsigned c = 0; c < 10; ++c) { // 10 clusters of 3 x 3 to 4 x 4 pixels
            const unsigned x0 = 10 + 23 * c, y0 = 15 + 21 * c, side = 3 + c % 2;
            for (unsigned y = y0; y < y0 + side; ++y)
                for (unsigned x = x0; x < x0 + side; ++x)
                    frame[y * kSide + x] = static_cast<uint16_t>(20 + x % 7);
        }
        for (unsigned i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint16_t>(300 + (i > 100 && i < 200 ? 900 * std::sin((i - 100) * M_PI / 100) : 0) + i % 5);
    }
};

const Setup& setup()
{
    static const Setup s;
    return s;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

size_t countAbove(const std::vector<uint16_t>& frame)
{
    size_t n = 0;
    for (uint16_t v : frame)
        n += v >= kThreshold;
    return n;
}

void BM_CountAboveThreshold(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(countAbove(setup().frame));
}

void BM_PulseAnalysis(benchmark::State& state)
{
    const Setup& s = setup();
    constexpr int kBaselineRounds = 2000;
    const double begin = cpuSeconds();
    for (int i = 0; i < kBaselineRounds; ++i)
        benchmark::DoNotOptimize(countAbove(s.frame));
    const double baseline = (cpuSeconds() - begin) / kBaselineRounds;

    PulseAnalysis analysis;
    PulseSettings settings;
    settings.clusterThreshold = kThreshold;
    analysis.setSettings(settings);
    analysis.analyse(s.frame.data(), kSide, kSide, s.samples.data(), 450); // images made
    const double start = cpuSeconds();
    for (auto _ : state)
        analysis.analyse(s.frame.data(), kSide, kSide, s.samples.data(), 450);
    const double ours = (cpuSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["x_count"] = baseline > 0 ? ours / baseline : 0;
    state.counters["accepted_per_frame"] = static_cast<double>(analysis.results().counters.accepted) /
                                           static_cast<double>(state.iterations() + 1);
}

BENCHMARK(BM_CountAboveThreshold)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PulseAnalysis)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
