// Painting a chart of 4096 bars and a function curve at 1000 x 600 (axes, grid, ticks, labels), beside
// filling the same 4096 bar rectangles straight through QPainter on the same image (target: within 3x).
// x_fill is the chart's time over the fill's, both measured in the same run (CPU time).
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "chart/chart_model.h"
#include "chart/chart_paint.h"
#include "chart/qt_chart_canvas.h"

namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 600;

class Gauss : public ChartDataFunction {
public:
    bool evaluate(double x, double* y, double*) override
    {
        *y = 900.0 * std::exp(-(x - 2000.0) * (x - 2000.0) / (2 * 400.0 * 400.0));
        return true;
    }
};

struct Setup {
    ChartModel chart;
    std::vector<QRect> bars; // the rectangles the chart fills for its bars
    Setup()
    {
        chart.setLabels("Back side pulse spectrum", "Pulse height", "Count");
        ChartSeries* s = chart.addEmptySeries(0, 1);
        for (unsigned i = 0; i < s->count(); ++i)
            s->points[i].y = 900.0 * std::exp(-(i - 2000.0) * (i - 2000.0) / (2 * 400.0 * 400.0)) + (i % 7);
        s->functions.push_back(std::make_unique<Gauss>());
        chart.autoScaleX();
        struct Collect : ChartCanvas {
            std::vector<QRect>* bars;
            COLORREF color;
            void fillRect(int l, int t, int w, int h, COLORREF c) override
            {
                if (c == color)
                    bars->push_back(QRect(l, t, w, h));
            }
            void setPen(COLORREF, bool) override {}
            void line(int, int, int, int) override {}
            void polyline(const ChartPixel*, size_t) override {}
            void rectangle(int, int, int, int, COLORREF) override {}
            void ellipse(int, int, int, int, COLORREF) override {}
            void text(int, int, std::string_view, const ChartFont&, ChartAlign, COLORREF) override {}
            void clip(int, int, int, int) override {}
        } collect;
        collect.bars = &bars;
        collect.color = chart.getSeriesColor(0);
        paintChart(chart, collect, kWidth, kHeight);
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

void fillBars(QImage& image)
{
    QPainter painter(&image);
    painter.fillRect(0, 0, kWidth, kHeight, Qt::white);
    for (const QRect& r : setup().bars)
        painter.fillRect(r, QColor(192, 0, 32));
}

void paint(QImage& image)
{
    QPainter painter(&image);
    QtChartCanvas canvas(painter);
    paintChart(setup().chart, canvas, kWidth, kHeight);
}

void BM_FillBarRects(benchmark::State& state)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state)
        fillBars(image);
    state.counters["bars"] = static_cast<double>(setup().bars.size());
}

void BM_ChartPaint(benchmark::State& state)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    constexpr int kBaselineRounds = 50;
    const double begin = cpuSeconds();
    for (int i = 0; i < kBaselineRounds; ++i)
        fillBars(image);
    const double baseline = (cpuSeconds() - begin) / kBaselineRounds;
    const double start = cpuSeconds();
    for (auto _ : state)
        paint(image);
    const double ours = (cpuSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["x_fill"] = baseline > 0 ? ours / baseline : 0;
}

BENCHMARK(BM_FillBarRects)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChartPaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the tick labels
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
