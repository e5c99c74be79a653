// Ticks, transforms, colours, series and the chart's ranges: the arithmetic under every chart.
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "chart_math.h"
#include "chart_model.h"
#include "chart_series.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ChartTicks, StepIsOneTwoTwoAndHalfOrFiveTimesAPowerOfTen)
{
    struct Case {
        double n, range, step;
    } cases[] = {
        {10, 0, 1},         {10, 100, 10},     {1, 23, 25},       {10, kNaN, 1},  {10, kInf, 1},
        {10, -kInf, 1},     {10, 1e-101, 1},   {0, 100, 50},      {-3, 100, 50},  {kNaN, 100, 50},
        {kInf, 100, 50},    {5, 1, 0.2},       {4, 1e6, 250000},  {1e-300, 1e300, 1},
        {3, -10, 1},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(chartTickStep(c.n, c.range), c.step) << "n " << c.n << " range " << c.range;
}

TEST(ChartTicks, ValuesRunDownFromTheMaximumAndStayBounded)
{
    EXPECT_EQ(chartTickValues(-1, 1, 0.5), (std::vector<double>{1, 0.5, 0, -0.5, -1}));
    EXPECT_EQ(chartTickValues(0.1, 9.9, 2), (std::vector<double>{8, 6, 4, 2}));
    EXPECT_TRUE(chartTickValues(5, 4, 1).empty());
    struct Case {
        double min, max, step;
    } bounded[] = {
        {1e17 - 5, 1e17 + 5, 2},   // the step is below the spacing of doubles there
        {-1e308, 1e308, 1},        // more ticks than int holds
        {0, 1e300, 1e-10},
        {kNaN, 1, 1}, {0, kInf, 1}, {0, 1, 0}, {0, 1, kNaN}, {0, 1, -1},
    };
    for (const Case& c : bounded) {
        const std::vector<double> ticks = chartTickValues(c.min, c.max, c.step);
        EXPECT_LE(ticks.size(), 1000u) << c.min << ".." << c.max << " step " << c.step;
        for (size_t i = 1; i < ticks.size(); ++i)
            EXPECT_LT(ticks[i], ticks[i - 1]);
    }
}

TEST(ChartTransform, PixelsRoundHalfUpAndClamp)
{
    struct Case {
        double pixel;
        int expected;
    } cases[] = {{2.5, 3}, {-2.5, -2}, {2.49, 2}, {1e300, 16383}, {-1e300, -16383},
                 {kInf, 16383}, {-kInf, -16383}, {kNaN, -16383}, {16383.4, 16383}};
    for (const Case& c : cases)
        EXPECT_EQ(chartRoundPixel(c.pixel), c.expected) << c.pixel;
    // Far from zero over a narrow range the offset keeps its precision.
    const _ChartTransform t{10.0, 50.0, 1e17, 0.0, 1.0, 0.0};
    EXPECT_EQ(chartToPixelX(t, 1e17), 10);
    EXPECT_EQ(chartToPixelX(t, 1e17 + 16), 810);
}

TEST(ChartColours, ModeZeroCyclesEightColoursModeOneFadesOlderSeries)
{
    struct Case {
        int i;
        unsigned count;
        int mode;
        COLORREF back, expected;
    } cases[] = {
        {0, 2, 0, 0xFFFFFF, chartRgb(192, 0, 32)},
        {1, 2, 0, 0xFFFFFF, chartRgb(0, 0, 32)},
        {2, 2, 0, 0xFFFFFF, chartRgb(192, 192, 32)},
        {7, 2, 0, 0xFFFFFF, chartRgb(0, 192, 224)},
        {8, 2, 0, 0xFFFFFF, chartRgb(192, 0, 32)},
        {3, 4, 1, 0xFFFFFF, chartRgb(0, 0, 0)},       // the newest
        {2, 4, 1, 0xFFFFFF, chartRgb(127, 127, 127)},
        {0, 4, 1, chartRgb(200, 100, 40), chartRgb(150, 75, 30)},
        {4, 4, 1, 0xFFFFFF, 0xFFFFFF},                 // at and beyond the count: no division by zero
        {9, 4, 1, 0xFFFFFF, 0xFFFFFF},
        {0, 0, 1, 0xFFFFFF, 0xFFFFFF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chartSeriesColor(c.i, c.count, c.mode, c.back), c.expected) << "i " << c.i << " mode " << c.mode;
}

TEST(ChartSeriesPoints, FindPointIsABinarySearchWithBothEnds)
{
    ChartSeries s(4, 0.0, 1.0); // x = 0 1 2 3
    struct Case {
        double x;
        unsigned index;
    } cases[] = {{-1, 0}, {0, 0}, {0.5, 1}, {1, 1}, {2.5, 3}, {3, 3}, {3.5, 4}, {kInf, 4}, {-kInf, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(s.findPoint(c.x), c.index) << c.x;
    EXPECT_EQ(ChartSeries().findPoint(1.0), 0u);
}

TEST(ChartSeriesPoints, ResizeOnlyGrowsInsertShiftsTheRest)
{
    const uint16_t values[] = {5, 6, 7};
    ChartSeries s(3, 10.0, 1.0, values);
    EXPECT_FALSE(s.resizePoints(2));
    ASSERT_EQ(s.count(), 3u);
    EXPECT_EQ(s.points[2].y, 7);
    EXPECT_TRUE(s.resizePoints(5));
    ASSERT_EQ(s.count(), 5u);
    EXPECT_EQ(s.points[2].x, 12);
    EXPECT_EQ(s.points[4].x, 0);
    EXPECT_EQ(s.points[4].y, 0);

    struct Case {
        unsigned at;
        unsigned zeroAt;
    } cases[] = {{0, 0}, {3, 3}, {99, 3}};
    for (const Case& c : cases) {
        ChartSeries t(3, 10.0, 1.0, values);
        t.insertPoint(c.at);
        ASSERT_EQ(t.count(), 4u);
        EXPECT_EQ(t.points[c.zeroAt].x, 0) << c.at;
        EXPECT_EQ(t.points[c.zeroAt].y, 0) << c.at;
        EXPECT_EQ(t.points[c.at == 0 ? 1 : 0].y, 5) << c.at;
        EXPECT_EQ(t.points[c.at == 0 ? 3 : 2].y, 7) << c.at;
    }
}

std::string written(const ChartSeries& s)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buffer, &size);
    EXPECT_TRUE(s.write(f));
    std::fclose(f);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

ChartSeries series(std::initializer_list<_ChartPoint> points)
{
    ChartSeries s;
    s.points.assign(points);
    return s;
}

// Runs again under de_DE: the numbers keep their decimal point.
TEST(ChartSeriesWrite, GoldenBytes)
{
    struct Case {
        const char* name;
        ChartSeries s;
        std::string expected;
    };
    Case cases[] = {
        {"x equal to the index", series({{0, 1}, {1, 2.5}, {2, -3}}), "1 \t2.5 \t-3 \t\n"},
        {"with x", series({{0.5, 1}, {1.5, 1e-7}}), "0.5;1 \t1.5;1e-07 \t\n"},
        {"x errors", series({{0, 1, 0.25}, {1, 2}}), "0\xB1" "0.25;1 \t1\xB1" "0;2 \t\n"},
        {"y errors", series({{0, 1, 0, 0.5}, {1, 2}}), "1\xB1" "0.5 \t2\xB1" "0 \t\n"},
        {"both", series({{2, 1234567, 0.5, 3}}), "2\xB1" "0.5;1.23457e+06\xB1" "3 \t\n"},
        {"non-finite", series({{0, kNaN}, {1, -kInf}}), "nan \t-inf \t\n"},
        {"empty", ChartSeries(), "\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(written(c.s), c.expected) << c.name;
}

TEST(ChartSeriesWrite, FailureStopsWriteData)
{
    ChartModel chart;
    chart.addSeries(2, 0, 1, nullptr);
    chart.addSeries(2, 0, 1, nullptr);
    FILE* readOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_FALSE(chart.writeData(readOnly));
    std::fclose(readOnly);
    EXPECT_FALSE(chart.series[0]->write(nullptr));

    char* buffer = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buffer, &size);
    EXPECT_TRUE(chart.writeData(f));
    std::fclose(f);
    EXPECT_EQ(std::string(buffer, size), "0 \t0 \t\n0 \t0 \t\n");
    std::free(buffer);
}

// A curve defined on [lo, hi] only.
class Ramp : public ChartDataFunction {
public:
    Ramp(double lo, double hi) : lo_(lo), hi_(hi) {}
    bool getXRange(double* min, double* max) override
    {
        *min = lo_;
        *max = hi_;
        return true;
    }
    bool evaluate(double x, double* y, double*) override
    {
        *y = 2 * x;
        return x >= lo_ && x <= hi_;
    }

private:
    double lo_, hi_;
};

TEST(ChartRanges, AutomaticRangesComeFromFiniteDataOnly)
{
    ChartModel chart;
    const uint16_t values[] = {1, 5, 3};
    ChartSeries* s = chart.addSeries(3, 10.0, 2.0, values);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(chart.xMin, 10);
    EXPECT_EQ(chart.xMax, 14);
    EXPECT_EQ(chart.yMin, 0) << "the y range starts from zero";
    EXPECT_EQ(chart.yMax, 5);

    s->points.push_back({16, kNaN});
    s->points.push_back({kInf, 1e6});
    s->points.push_back({17, -kInf});
    chart.autoScaleX();
    EXPECT_EQ(chart.xMax, 17);
    EXPECT_EQ(chart.yMin, 0);
    EXPECT_EQ(chart.yMax, 5);

    s->functions.push_back(std::make_unique<Ramp>(-4, 30));
    chart.autoScaleX();
    EXPECT_EQ(chart.xMin, -4);
    EXPECT_EQ(chart.xMax, 30);
    EXPECT_NEAR(chart.yMin, -8, 1e-9);
    EXPECT_NEAR(chart.yMax, 60, 1e-9);

    // A curve defined everywhere gives the series no x range.
    ChartModel everywhere;
    everywhere.addSeries(0, 0, 1, nullptr)->functions.push_back(std::make_unique<ChartDataFunction>());
    everywhere.autoScaleX();
    EXPECT_EQ(everywhere.xMin, 0);
    EXPECT_EQ(everywhere.xMax, 360);
}

TEST(ChartRanges, OneValueDoesNotCollapseTheRange)
{
    ChartModel chart;
    chart.yIncludeZero = 0;
    const uint16_t value = 7;
    chart.addSeries(1, 3.0, 1.0, &value);
    EXPECT_EQ(chart.xMin, 0);
    EXPECT_EQ(chart.xMax, 360);
    EXPECT_EQ(chart.yMin, -100);
    EXPECT_EQ(chart.yMax, 100);
}

TEST(ChartRanges, SetRangeFixesAndRefusesNonFiniteBounds)
{
    ChartModel chart;
    EXPECT_TRUE(chart.setRange(false, 1, 2, 3, 4));
    EXPECT_FALSE(chart.setRange(false, 1, 2, 3, 4)) << "nothing changed";
    EXPECT_FALSE(chart.xAuto);
    EXPECT_FALSE(chart.yAuto);
    struct Case {
        double xmin, xmax, ymin, ymax;
    } bad[] = {{kNaN, 2, 3, 4}, {1, kInf, 3, 4}, {1, 2, -kInf, 4}, {1, 2, 3, kNaN}};
    for (const Case& c : bad) {
        EXPECT_FALSE(chart.setRange(false, c.xmin, c.xmax, c.ymin, c.ymax));
        EXPECT_EQ(chart.xMin, 1);
        EXPECT_EQ(chart.xMax, 2);
        EXPECT_EQ(chart.yMin, 3);
        EXPECT_EQ(chart.yMax, 4);
    }
    // x automatic: the x bounds are not used, y stays fixed while series come.
    const uint16_t values[] = {50, 60};
    chart.addSeries(2, 5.0, 1.0, values);
    EXPECT_TRUE(chart.setRange(true, kNaN, kNaN, 0, 10));
    EXPECT_EQ(chart.xMin, 5);
    EXPECT_EQ(chart.xMax, 6);
    EXPECT_EQ(chart.yMax, 10);
}

TEST(ChartMouse, MiddleButtonCyclesStylesDoubleClickTogglesDecorations)
{
    ChartModel chart;
    const int expected[] = {ChartModel::Sticks, ChartModel::Squares, ChartModel::Polyline, ChartModel::Bars};
    for (int style : expected) {
        chart.cyclePointStyle();
        EXPECT_EQ(chart.pointStyle, style);
    }
    chart.pointStyle = 42;
    chart.cyclePointStyle();
    EXPECT_EQ(chart.pointStyle, ChartModel::Squares);

    for (bool legendToo : {false, true}) {
        ChartModel c;
        c.toggleLegendOnDblClk = legendToo;
        c.toggleDecorations();
        EXPECT_FALSE(c.showTitle);
        EXPECT_FALSE(c.showLabels);
        EXPECT_FALSE(c.showAxes);
        EXPECT_TRUE(c.showGrid);
        EXPECT_EQ(c.showLegend, !legendToo);
    }
}

} // namespace
