// The chart and picture windows as grabbed pixels, headless, with every Qt warning fatal.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>

#include "bitmap_view.h"
#include "chart_2d.h"
#include "chart_math.h"
#include "chart_paint.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

QColor qcolor(COLORREF c)
{
    return QColor(int(chartRed(c)), int(chartGreen(c)), int(chartBlue(c)));
}

QImage grabbed(QWidget& w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void addPoints(CChart2d& chart, std::initializer_list<_ChartPoint> points)
{
    ChartSeries* s = chart.addSeries(0, 0, 1, nullptr);
    s->points.assign(points);
    chart.autoScaleX();
}

TEST(ChartWindow, HostileChartsPaintWithoutWarnings)
{
    struct Case {
        const char* name;
        void (*setUp)(CChart2d&);
        int width, height;
    } cases[] = {
        {"xMin == xMax", [](CChart2d& c) { c.setRange(false, 5, 5, 5, 5); addPoints(c, {{5, 5}}); }, 300, 200},
        {"range 1e17 +- 5", [](CChart2d& c) { c.setRange(false, 1e17 - 5, 1e17 + 5, -1, 1); }, 300, 200},
        {"values +-1e308", [](CChart2d& c) { addPoints(c, {{0, -1e308}, {1, 1e308}}); }, 300, 200},
        {"NaN and inf", [](CChart2d& c) { addPoints(c, {{0, 1}, {kNaN, 2}, {2, kInf}, {3, 1}}); }, 300, 200},
        {"4096 bars", [](CChart2d& c) { c.addEmptySeries(0, 1)->points[9].y = 3; }, 1000, 600},
        {"5 x 5", [](CChart2d& c) { addPoints(c, {{0, 1}, {1, 2}}); }, 5, 5},
        {"text overlay", [](CChart2d& c) { c.addOverlay()->addText(1, 1, "note", 0); c.overlays[0]->addText(1, 1, "x", 12);
                                          c.overlays[0]->addEllipse(0, 0, 2, 2, 0xFF00); }, 300, 200},
    };
    for (const Case& c : cases) {
        CChart2d chart;
        chart.setLabels("Title", "x label", "y label");
        c.setUp(chart);
        chart.resize(c.width, c.height);
        for (int style = 0; style < 4; ++style) {
            chart.pointStyle = style;
            EXPECT_FALSE(grabbed(chart).isNull()) << c.name;
        }
    }
}

TEST(ChartWindow, LegendSquaresInTheSeriesColours)
{
    for (int count : {1, 2}) {
        CChart2d chart;
        chart.resize(400, 300);
        for (int i = 0; i < count; ++i)
            addPoints(chart, {{0, 1.0 + i}, {1, 2}});
        const QImage image = grabbed(chart);
        // Where the squares of two series lie (the plot of a chart with two series).
        CChart2d two;
        two.addSeries(2, 0, 1, nullptr);
        two.addSeries(2, 0, 1, nullptr);
        const ChartPlotArea plot = chartPlotArea(two, 400, 300);
        const int f = 30;
        for (int i = 0; i < 2; ++i) {
            const QPoint centre(plot.right + f / 2 + chart.markerSize, plot.top + int(0.75 * f * i) + f / 4 + chart.markerSize);
            const QColor expected = count == 2 ? qcolor(chart.getSeriesColor(i)) : qcolor(chart.backColor);
            EXPECT_EQ(image.pixelColor(centre), expected) << count << " series, square " << i;
        }
    }
}

TEST(ChartWindow, OverlayLineColourIsRgbOrderedAsStated)
{
    CChart2d chart;
    chart.resize(400, 300);
    chart.setRange(false, 0, 10, 0, 10);
    chart.addOverlay()->addLine(0, 5, 10, 5); // the default pen 0x0000FF
    chart.overlays[0]->addLine(5, 0, 5, 10, 0xFF0000);
    const QImage image = grabbed(chart);
    const ChartPlotArea plot = chartPlotArea(chart, 400, 300);
    const int middleY = (plot.top + plot.bottom) / 2;
    const int middleX = (plot.left + plot.right) / 2;
    EXPECT_EQ(image.pixelColor(plot.left + 10, middleY), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(middleX, plot.top + 10), QColor(0, 0, 255));
}

TEST(ChartWindow, BarOfHalfTheRangeEndsAtTheMiddle)
{
    CChart2d chart;
    chart.resize(500, 400);
    chart.showGrid = false;
    chart.setRange(false, 0, 2, 0, 100);
    addPoints(chart, {{1, 50}});
    const QImage image = grabbed(chart);
    const ChartPlotArea plot = chartPlotArea(chart, 500, 400);
    const QColor bar = qcolor(chart.getSeriesColor(0));
    const int x = (plot.left + plot.right) / 2;
    int top = -1;
    for (int y = plot.top; y < plot.bottom && top < 0; ++y)
        if (image.pixelColor(x, y) == bar)
            top = y;
    EXPECT_NEAR(top, (plot.top + plot.bottom) / 2, 1);
}

// The ranges end at the data: a point at both maxima sits on the top right corner of the plot area, and
// its marker is cut there instead of reaching over the frame into the labels.
TEST(ChartWindow, PointAtTheRangeMaximaIsCutAtThePlotEdges)
{
    CChart2d chart;
    chart.resize(400, 300);
    chart.setLabels("Title", "x label", "y label");
    chart.pointStyle = ChartModel::Squares;
    chart.markerSize = 4;
    addPoints(chart, {{0, 1}, {2, 3}});
    ASSERT_EQ(chart.yMax, 3.0);
    ASSERT_EQ(chart.xMax, 2.0);
    const QImage image = grabbed(chart);
    const ChartPlotArea plot = chartPlotArea(chart, 400, 300);
    const QColor marker = qcolor(chart.getSeriesColor(0));
    const QColor back = qcolor(chart.backColor);
    EXPECT_EQ(image.pixelColor(plot.right - 2, plot.top + 2), marker) << "inside the corner";
    EXPECT_EQ(image.pixelColor(plot.right - 2, plot.top - 2), back) << "above the top edge";
    EXPECT_EQ(image.pixelColor(plot.right + 2, plot.top + 2), back) << "right of the right edge";
}

TEST(ChartWindow, MouseCyclesStyleAndTogglesDecorations)
{
    CChart2d chart;
    chart.resize(100, 100);
    const QPointF at(50, 50);
    QMouseEvent middle(QEvent::MouseButtonRelease, at, at, Qt::MiddleButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &middle);
    EXPECT_EQ(chart.pointStyle, ChartModel::Sticks);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &dbl);
    EXPECT_FALSE(chart.showAxes);
    EXPECT_TRUE(chart.showLegend);
}

// The dark pixels of a rectangle of the image, as their bounding box (empty when none).
QRect inkIn(const QImage& image, const QRect& area)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                box |= QRect(x, y, 1, 1);
    return box;
}

// The chart's text is as tall as the window's text: a label of capitals inks the cap height of the
// window's font (or of the chart's own size when one is set). The y label, the same text, inks the x
// label's ink turned by 90 degrees (a column of letters one under the other would be far taller).
TEST(ChartWindow, TextAtTheWindowFontSizeAndTheYLabelTurned)
{
    struct Case {
        const char* name;
        int windowPoints;
        int chartSize; // tenths of a point; 0: the window's font
    } cases[] = {
        {"window 8 pt", 8, 0},
        {"window 12 pt", 12, 0},
        {"window 18 pt", 18, 0},
        {"chart 20 pt in a 9 pt window", 9, 200},
    };
    for (const Case& c : cases) {
        QWidget window;
        QFont font = window.font();
        font.setPointSize(c.windowPoints);
        window.setFont(font);
        CChart2d chart(&window);
        chart.resize(400, 300);
        chart.fontSize = c.chartSize;
        chart.showAxes = false; // only the two labels draw text
        chart.showGrid = false;
        chart.setLabels(nullptr, "HHHHHHHH", "HHHHHHHH");
        QFont expected = c.chartSize > 0 ? QFont(QStringLiteral("Arial")) : chart.font();
        if (c.chartSize > 0)
            expected.setPointSizeF(c.chartSize / 10.0);
        const int capHeight = QFontMetrics(expected, &chart).capHeight();
        const QImage image = grabbed(chart);
        // The layout unit is 30 pixels: the y label's room is x 3..33, the x label's y 267..297.
        const QRect yLabel = inkIn(image, QRect(0, 0, 33, 300));
        const QRect xLabel = inkIn(image, QRect(33, 267, 367, 33));
        ASSERT_FALSE(yLabel.isEmpty()) << c.name;
        ASSERT_FALSE(xLabel.isEmpty()) << c.name;
        EXPECT_NEAR(xLabel.height(), capHeight, 2) << c.name << ": x label height";
        EXPECT_NEAR(yLabel.width(), xLabel.height(), 1) << c.name << ": the y label turned";
        EXPECT_NEAR(yLabel.height(), xLabel.width(), 2) << c.name << ": the y label turned";
        EXPECT_GT(xLabel.width(), 4 * xLabel.height()) << c.name;
        EXPECT_NEAR(yLabel.center().y(), (3 + 267) / 2, 3) << c.name << ": centred on the plot";
    }
}

TEST(BitmapWindow, GreyAndOutOfRangeColours)
{
    struct Case {
        const char* name;
        double value, min, max;
        bool colorOutOfRange;
        QColor expected;
    } cases[] = {
        {"constant data", 3, 0, 0, true, QColor(127, 127, 127)},
        {"below", -1, 0, 10, true, QColor(0, 0, 255)},
        {"above", 11, 0, 10, true, QColor(255, 0, 0)},
        {"below, flag off", -1, 0, 10, false, QColor(0, 0, 0)},
        {"above, flag off", 11, 0, 10, false, QColor(255, 255, 255)},
        {"NaN", kNaN, 0, 10, true, QColor(0, 0, 255)},
    };
    for (const Case& c : cases) {
        CBitmapView view;
        view.resize(20, 10);
        const double data[4] = {c.value, c.value, c.value, c.value};
        ASSERT_TRUE(view.setImage(data, 2, 2, c.min, c.max, c.colorOutOfRange)) << c.name;
        EXPECT_EQ(grabbed(view).pixelColor(10, 5), c.expected) << c.name;
    }
}

TEST(BitmapWindow, StretchedOrCentredOnGrey)
{
    CBitmapView view;
    view.resize(40, 40);
    const uint16_t data[4] = {0, 100, 200, 300};
    ASSERT_TRUE(view.setImage(data, 2, 2));
    EXPECT_EQ(view.imageWidth(), 2u);
    EXPECT_EQ(grabbed(view).pixelColor(39, 39), QColor(255, 255, 255)) << "stretched over the window";
    view.stretch = false;
    const QImage centred = grabbed(view);
    EXPECT_EQ(centred.pixelColor(0, 0), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(centred.pixelColor(19, 19), QColor(0, 0, 0));
    EXPECT_EQ(centred.pixelColor(20, 20), QColor(255, 255, 255));

    EXPECT_FALSE(view.setImage(static_cast<const uint8_t*>(nullptr), 2, 2));
    EXPECT_EQ(view.imageWidth(), 2u) << "a refused picture keeps the old one";
}

} // namespace
