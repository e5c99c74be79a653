// One refresh of a 512 x 512 preview window's contents with everything on: the frame fetched in count-rate
// mode, turned, three regions (whole, zoom, selection), the 0.01/0.99 fractile automatic range, the refined
// histogram of the selection handed to a plot model, the statistics texts and Jet rendering. Beside the
// display model's own refresh of the same frame in the same run (fetch, turn, three regions' statistics,
// fractiles, rendering). Target: at most 2x the model's refresh and under 10 ms.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "plugins/TvkCtrlUI/preview_view.h"
#include "uikit/plot_model.h"
#include "pair_reporter.h"
#include "picture_bench_frame.h"

namespace {

using namespace bench;

int getAttrib(uint32_t, const char* name, void* value, uint32_t* size, int* type)
{
    if (std::strcmp(name, "Acq time") != 0 || *size < sizeof(double))
        return -1;
    const double t = 0.5;
    std::memcpy(value, &t, sizeof t);
    *size = sizeof t;
    *type = 9;
    return 0;
}

_MgrFuncTable table()
{
    _MgrFuncTable mgr{};
    mgr.mgrGetFrameSize = getSize;
    mgr.mgrGetFrameData = getData;
    mgr.mgrGetFrameAttrib = getAttrib;
    return mgr;
}

// The display model's refresh, as its own benchmark measures it.
void ModelRefresh(benchmark::State& state)
{
    const _MgrFuncTable mgr = table();
    PictureData model(&mgr);
    NullPicture picture;
    model.setPicture(&picture);
    setUpRefresh(model);
    for (auto _ : state) {
        refreshOnce(model);
        benchmark::DoNotOptimize(picture.bits.get());
    }
}

void PreviewRefresh(benchmark::State& state)
{
    const _MgrFuncTable mgr = table();
    PictureData model(&mgr);
    NullPicture picture;
    model.setPicture(&picture);
    PreviewSettings settings;
    settings.autoRange = 1;
    settings.autoRangeType = 1;
    settings.showHistogram = 1;
    settings.histRefine = 1;
    settings.countRate = 1;
    settings.colorMap = ColorPalette::Jet;
    settings.underRangeWarning = settings.overRangeWarning = 1;
    model.setColorMap(settings.colorMap);
    model.setCountRate(true);
    model.showFrame(1);
    model.setRotation(90);
    model.toggleMirror();
    model.addRegions(2);
    picture.zoomRect = {64, 64, 384, 384};
    model.region(1)->setRect(picture.zoomRect);
    model.region(2)->setRect(100, 200, 50, 60);
    PreviewView view(model, settings);
    view.setSelectionShown(true);
    Plot2DModel plot;
    plot.defaultStyle = Plot2DSeries::AutoWidthHistogram;
    plot.setAutoScaleX(false);
    for (auto _ : state) {
        model.showFrame(1);
        view.refresh();
        const HistogramView& h = view.histogram();
        plot.clearSeries();
        plot.addValueSeries(h.bins, h.start, h.binWidth);
        plot.setXRange(h.xMin, h.xMax);
        plot.updateYRange();
        benchmark::DoNotOptimize(view.statistics()[4].data());
        benchmark::DoNotOptimize(picture.bits.get());
    }
}

BENCHMARK(ModelRefresh)->Unit(benchmark::kMicrosecond);
BENCHMARK(PreviewRefresh)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double a = reporter.times["PreviewRefresh"], b = reporter.times["ModelRefresh"];
    std::printf("\n%-16s %10s   %-14s %10s %8s %s\n", "figure", "us", "baseline", "us", "ratio", "target");
    if (b > 0)
        std::printf("%-16s %10.1f   %-14s %10.1f %7.2fx %s\n", "PreviewRefresh", a, "ModelRefresh", b, a / b,
                    "2x, < 10000 us");
    benchmark::Shutdown();
    return 0;
}
