// Drawing of the picture and the plot, offscreen, each beside the bare drawing call it is built on:
//   a 512 x 512 frame painted by the picture into 1024 x 1024 with colour bar and labels, beside one
//   drawImage of the same image into the same size (target: at most 1.5x);
//   a plot of one 100000-point line, beside one drawPolyline of the same points (target: at most 2x).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "uikit/picture.h"
#include "uikit/picture_data.h"
#include "uikit/plot2d.h"
#include "pair_reporter.h"
#include "picture_bench_frame.h"

namespace {

using namespace bench;

constexpr int kPoints = 100000;

void PaintPicture(benchmark::State& state)
{
    _MgrFuncTable mgr{};
    mgr.mgrGetFrameSize = getSize;
    mgr.mgrGetFrameData = getData;
    PictureData model(&mgr);
    CPicture picture;
    picture.setShowLabels(true);
    picture.setShowColorBar(true);
    picture.setLabels("1", "512", "1", "512", "X (column number)", "Y");
    model.setPicture(&picture);
    model.setColorMap(ColorPalette::Jet);
    model.showFrame(1);
    model.setRange(900, 1100, false, false);
    picture.resize(1100, 1100);
    picture.resize(picture.size() + QSize(1024, 1024) - picture.imageArea().size()); // an image area of 1024 x 1024
    QImage target(picture.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        picture.render(&target, QPoint(), QRegion(), QWidget::DrawChildren); // as on screen: no window background
        benchmark::DoNotOptimize(target.constBits());
    }
}

void DrawImage(benchmark::State& state)
{
    QImage image(reinterpret_cast<const uchar*>(frameValues().data()), kSide, kSide, kSide * 3, QImage::Format_BGR888);
    QImage target(1100, 1100, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&target);
        p.drawImage(QRect(0, 0, 1024, 1024), image, QRect(0, 0, kSide, kSide));
        p.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

std::vector<double>& curve()
{
    static std::vector<double> v = [] {
        std::vector<double> c(kPoints);
        for (int i = 0; i < kPoints; ++i)
            c[size_t(i)] = std::sin(i * 1e-3) * 100 + (i % 7);
        return c;
    }();
    return v;
}

void PlotLine(benchmark::State& state)
{
    Plot2D plot;
    plot.addValueSeries(curve(), 0, 1);
    QImage target(800, 600, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&target);
        plot.render(p, QRect(0, 0, 800, 600));
        p.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

void DrawPolyline(benchmark::State& state)
{
    QPolygonF line;
    for (int i = 0; i < kPoints; ++i)
        line.append(QPointF(20 + i * 760.0 / kPoints, 300 - curve()[size_t(i)] * 2.5));
    QImage target(800, 600, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&target);
        p.fillRect(target.rect(), Qt::white);
        p.setPen(QPen(Qt::red, 2));
        p.drawPolyline(line);
        p.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

BENCHMARK(PaintPicture)->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(PlotLine)->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawPolyline)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    bench::PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const struct {
        const char* figure;
        const char* baseline;
        const char* target;
    } pairs[] = {{"PaintPicture", "DrawImage", "1.5x"}, {"PlotLine", "DrawPolyline", "2x"}};
    std::printf("\n%-14s %10s   %-14s %10s %8s %8s %s\n", "figure", "us", "baseline", "us", "ratio", "cpu", "target");
    for (const auto& p : pairs) {
        const double a = reporter.times[p.figure], b = reporter.times[p.baseline];
        const double ac = reporter.cpuTimes[p.figure], bc = reporter.cpuTimes[p.baseline];
        if (b > 0 && bc > 0)
            std::printf("%-14s %10.1f   %-14s %10.1f %7.2fx %7.2fx %s\n", p.figure, a, p.baseline, b, a / b, ac / bc,
                        p.target);
    }
    benchmark::Shutdown();
    return 0;
}
