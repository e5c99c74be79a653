// One refresh of a 512 x 512 preview, as the preview window runs it after each frame: fetch as doubles,
// a quarter turn and a mirror, the statistics of three regions, the fractile histogram and the
// rendering into the picture's image. Beside a memcpy of the same 2 MiB (target: at most 25x and under
// 5 ms); then each stage alone (0 fetch + turn + mirror, 1 statistics, 2 fractile histogram, 3 rendering).
// The picture is a stub here: the drawing on screen is measured in picture_paint_gui_bench.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "pair_reporter.h"
#include "picture_bench_frame.h"

namespace {

using namespace bench;

void Refresh(benchmark::State& state)
{
    _MgrFuncTable mgr{};
    mgr.mgrGetFrameSize = getSize;
    mgr.mgrGetFrameData = getData;
    PictureData model(&mgr);
    NullPicture picture;
    model.setPicture(&picture);
    setUpRefresh(model);
    for (auto _ : state) {
        refreshOnce(model);
        benchmark::DoNotOptimize(picture.bits.get());
    }
}

// The stages of a refresh one by one, to tell where its time goes.
void Stage(benchmark::State& state)
{
    _MgrFuncTable mgr{};
    mgr.mgrGetFrameSize = getSize;
    mgr.mgrGetFrameData = getData;
    PictureData model(&mgr);
    NullPicture picture;
    model.setPicture(&picture);
    setUpRefresh(model);
    const double lo = model.getRegionFractile(0.01, 0), hi = model.getRegionFractile(0.99, 0);
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0: // fetch, turn, mirror
            model.showFrame(1);
            break;
        case 1: // statistics of three regions
            for (int r = 0; r < 3; ++r) {
                model.region(r)->invalidate();
                benchmark::DoNotOptimize(model.region(r)->stdDev());
            }
            break;
        case 2: // fractile histogram
            model.region(0)->invalidate();
            benchmark::DoNotOptimize(model.getRegionFractile(0.01, 0));
            break;
        default: // rendering
            model.setRange(lo, hi, true, true);
            break;
        }
    }
}

void Memcpy2MiB(benchmark::State& state)
{
    std::vector<double> out(kPixels);
    for (auto _ : state) {
        std::memcpy(out.data(), frameValues().data(), kPixels * sizeof(double));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(Refresh)->Unit(benchmark::kMicrosecond);
BENCHMARK(Memcpy2MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(Stage)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double a = reporter.times["Refresh"], b = reporter.times["Memcpy2MiB"];
    const double ac = reporter.cpuTimes["Refresh"], bc = reporter.cpuTimes["Memcpy2MiB"];
    std::printf("\n%-12s %10s   %-12s %10s %8s %8s %s\n", "figure", "us", "baseline", "us", "ratio", "cpu", "target");
    if (b > 0 && bc > 0)
        std::printf("%-12s %10.1f   %-12s %10.1f %7.2fx %7.2fx %s\n", "Refresh", a, "Memcpy2MiB", b, a / b, ac / bc,
                    "25x, < 5000 us");
    benchmark::Shutdown();
    return 0;
}
