// Beam-hardening calibration of a 512 x 512 detector with 6 points, Exponential method, each figure beside
// its baseline from the same run (the column x_baseline is our time over the baseline's):
//   correct     one frame corrected (thickness and error by difference)  beside one std::log per pixel
//               (target: within 12x)
//   parameters  the mask and the curve parameters                        beside one std::exp per pixel and
//               interior point (target: within 30x)
//   fill        a 100 x 100 block of bad pixels filled                   beside one full-frame weighted
//               3 x 3 pass (target: within 10x; no repeated full-frame passes)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <vector>

#include "plugins/HardenCal/calib_context.h"
#include "plugins/HardenCal/calib_impl.h"

namespace {

constexpr int kSide = 512;
constexpr int kPixels = kSide * kSide;
const std::vector<double> kThicknesses = {0.0, 0.5, 1.5, 3.0, 5.0, 8.0};
constexpr int kInterior = 4;

double rate(double t, int i)
{
    return (5000.0 + 10.0 * (i % 13)) * std::exp(-(0.3 + 0.01 * (i % 11)) * t) + 100.0 + i % 7;
}

std::vector<double> countsAt(double t)
{
    std::vector<double> v(kPixels);
    for (int i = 0; i < kPixels; ++i)
        v[static_cast<size_t>(i)] = rate(t, i);
    return v;
}

hcal::CalibContext& calibrated()
{
    static hcal::CalibContext* ctx = [] {
        auto* c = new hcal::CalibContext(nullptr);
        c->bind(0, {4, 2, "B-1", "dummy"});
        c->setMethod(hcal::kExponential);
        for (double t : kThicknesses)
            c->addPoint(t, 1.0, countsAt(t), {});
        c->badPixelCount(); // fits once
        // The first correction after a fit also lays the fit out pixel by pixel: once, not per frame.
        c->correct(countsAt(0.0).data(), nullptr, kPixels, 1.0, nullptr, nullptr);
        return c;
    }();
    return *ctx;
}

// CPU time of the calling thread: the machine may be busy with other work, which wall time would count.
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Each iteration runs the baseline and then ours, so that both meet the same conditions; the reported
// time is ours (CPU), and x_baseline our total over the baseline's.
template <class Base, class Fn>
void measure(benchmark::State& state, Base baseline, Fn fn)
{
    double base = 0.0;
    double ours = 0.0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        baseline();
        const double t1 = cpuSeconds();
        fn();
        const double t2 = cpuSeconds();
        base += t1 - t0;
        ours += t2 - t1;
        state.SetIterationTime(t2 - t1);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["baseline_ms"] = base / n * 1e3;
    state.counters["x_baseline"] = ours / base;
}

void BM_Correct(benchmark::State& state)
{
    hcal::CalibContext& ctx = calibrated();
    const std::vector<double> counts = countsAt(2.2);
    std::vector<double> thickness(kPixels);
    auto baseline = [&] {
        double sum = 0.0;
        for (double c : counts)
            sum += std::log(c);
        benchmark::DoNotOptimize(sum);
    };
    measure(state, baseline, [&] {
        ctx.correct(counts.data(), nullptr, kPixels, 1.0, thickness.data(), nullptr);
        benchmark::DoNotOptimize(thickness.data());
    });
}

void BM_Parameters(benchmark::State& state)
{
    hcal::CalibContext& ctx = calibrated();
    const std::vector<double> x = countsAt(0.0);
    auto baseline = [&] {
        double sum = 0.0;
        for (int j = 0; j < kInterior; ++j)
            for (double v : x)
                sum += std::exp(v * -1e-4 * (j + 1));
        benchmark::DoNotOptimize(sum);
    };
    measure(state, baseline, [&] {
        ctx.setMethod(hcal::kLinear); // another method: mask and parameters are made anew
        ctx.setMethod(hcal::kExponential);
        benchmark::DoNotOptimize(ctx.badPixelCount());
    });
}

void BM_FillBlock(benchmark::State& state)
{
    std::vector<double> value(kPixels), error(kPixels);
    std::vector<uint8_t> mask(kPixels, 1);
    for (int i = 0; i < kPixels; ++i) {
        value[static_cast<size_t>(i)] = 1.0 + 0.001 * (i % kSide);
        error[static_cast<size_t>(i)] = 0.01 + 0.0001 * (i % 7);
    }
    std::vector<int> block;
    for (int y = 200; y < 300; ++y)
        for (int x = 200; x < 300; ++x)
            block.push_back(y * kSide + x);
    for (int i : block)
        mask[static_cast<size_t>(i)] = 0;

    std::vector<double> out(kPixels);
    auto baseline = [&] {
        for (int y = 1; y < kSide - 1; ++y)
            for (int x = 1; x < kSide - 1; ++x) {
                double sumW = 0.0, sumV = 0.0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        if (!dx && !dy)
                            continue;
                        const size_t at = static_cast<size_t>((y + dy) * kSide + x + dx);
                        const double w = 1.0 / error[at];
                        sumW += w;
                        sumV += w * value[at];
                    }
                out[static_cast<size_t>(y * kSide + x)] = sumV / sumW;
            }
        benchmark::DoNotOptimize(out.data());
    };
    std::vector<double> v = value, e = error;
    measure(state, baseline, [&] {
        hcal::fillHoles(v.data(), e.data(), mask.data(), kSide, kSide);
        benchmark::DoNotOptimize(v.data());
        for (int i : block) { // the block's holes back for the next round (10000 copies: noise)
            v[static_cast<size_t>(i)] = value[static_cast<size_t>(i)];
            e[static_cast<size_t>(i)] = error[static_cast<size_t>(i)];
        }
    });
}

} // namespace

BENCHMARK(BM_Correct)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parameters)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillBlock)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
