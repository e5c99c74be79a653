// The drawing steps on a recording canvas: hostile data and tiny windows draw within bounds, the legend
// appears with a second series, bars end where their value lies.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chart_math.h"
#include "chart_paint.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Recorder : ChartCanvas {
    struct Fill {
        int left, top, width, height;
        COLORREF color;
    };
    struct Text {
        int x, y;
        std::string text;
        COLORREF color;
        ChartFont font;
        bool vertical = false;
    };
    std::vector<Fill> fills;
    std::vector<Text> texts;
    std::vector<std::vector<ChartPixel>> polylines;
    std::vector<int> coordinates; // every coordinate handed over, to check their bounds
    int lines = 0;
    int windowSize = 0; // what windowFontSize gives
    int lineHeightGiven = 0; // what lineHeight gives

    void note(std::initializer_list<int> values) { coordinates.insert(coordinates.end(), values); }
    void fillRect(int l, int t, int w, int h, COLORREF c) override
    {
        note({l, t, w, h});
        fills.push_back({l, t, w, h, c});
    }
    void setPen(COLORREF, bool) override {}
    void line(int x1, int y1, int x2, int y2) override
    {
        note({x1, y1, x2, y2});
        ++lines;
    }
    void polyline(const ChartPixel* p, size_t n) override
    {
        polylines.emplace_back(p, p + n);
        for (size_t i = 0; i < n; ++i)
            note({p[i].x, p[i].y});
    }
    void rectangle(int x1, int y1, int x2, int y2, COLORREF) override { note({x1, y1, x2, y2}); }
    void ellipse(int x1, int y1, int x2, int y2, COLORREF) override { note({x1, y1, x2, y2}); }
    void text(int x, int y, std::string_view s, const ChartFont& font, ChartAlign, COLORREF c) override
    {
        EXPECT_GT(font.size, 0) << "a text without size reached the canvas";
        note({x, y});
        texts.push_back({x, y, std::string(s), c, font});
    }
    void verticalText(int x, int y, std::string_view s, const ChartFont& font, COLORREF c) override
    {
        EXPECT_GT(font.size, 0) << "a text without size reached the canvas";
        note({x, y});
        texts.push_back({x, y, std::string(s), c, font, true});
    }
    void clip(int l, int t, int w, int h) override { note({l, t, w, h}); }
    int windowFontSize() const override { return windowSize; }
    int lineHeight(const ChartFont&) const override { return lineHeightGiven; }

    bool hasText(const std::string& s) const
    {
        return std::any_of(texts.begin(), texts.end(), [&](const Text& t) { return t.text == s; });
    }
    const Text* find(const std::string& s) const
    {
        const auto it = std::find_if(texts.begin(), texts.end(), [&](const Text& t) { return t.text == s; });
        return it == texts.end() ? nullptr : &*it;
    }
};

void addPoints(ChartModel& chart, std::initializer_list<_ChartPoint> points)
{
    ChartSeries* s = chart.addSeries(0, 0, 1, nullptr);
    s->points.assign(points);
    chart.autoScaleX();
}

// Charts a paint must survive: every coordinate stays within the clamp, texts keep a size, and the
// painting ends (the tick loops once never did).
TEST(ChartPaint, HostileRangesAndDataDrawWithinBounds)
{
    struct Case {
        const char* name;
        void (*setUp)(ChartModel&);
        int width, height;
    } cases[] = {
        {"xMin == xMax", [](ChartModel& c) { c.setRange(false, 5, 5, 5, 5); addPoints(c, {{5, 5}}); }, 300, 200},
        {"range 1e17 +- 5", [](ChartModel& c) { c.setRange(false, 1e17 - 5, 1e17 + 5, 1e17 - 5, 1e17 + 5);
                                                addPoints(c, {{1e17, 1e17}}); }, 300, 200},
        {"values +-1e308", [](ChartModel& c) { addPoints(c, {{0, -1e308}, {1, 1e308}, {2, 0}}); }, 300, 200},
        {"NaN and inf points", [](ChartModel& c) { addPoints(c, {{0, 1}, {kNaN, 2}, {2, kInf}, {kInf, 3},
                                                                  {4, -kInf}, {5, kNaN}, {6, 2}}); }, 300, 200},
        {"4096 bars", [](ChartModel& c) { c.addEmptySeries(0, 1)->points[7].y = 1e9; }, 1000, 600},
        {"inverted range", [](ChartModel& c) { c.setRange(false, 10, 0, 10, 0); addPoints(c, {{5, 5}}); }, 300, 200},
        {"tiny range", [](ChartModel& c) { c.setRange(false, 0, 1e-300, 0, 1e-300); addPoints(c, {{1, 1}}); }, 300, 200},
        {"5 x 5 window", [](ChartModel& c) { addPoints(c, {{0, 1}, {1, 2}}); }, 5, 5},
        {"8 pixels high", [](ChartModel& c) { c.showAxes = false; addPoints(c, {{0, 1}, {1, 2}}); }, 100, 8},
        {"no window", [](ChartModel& c) { addPoints(c, {{0, 1}}); }, 0, 0},
    };
    for (const Case& c : cases) {
        for (int style = 0; style < 4; ++style) {
            for (bool axes : {true, false}) {
                ChartModel chart;
                chart.setLabels("Title", "x", "y");
                c.setUp(chart);
                chart.pointStyle = style;
                chart.showAxes = chart.showAxes && axes;
                chart.series[0]->points.push_back({7, 7, kInf, kNaN});
                chart.addOverlay()->addLine(kNaN, 0, 1, 1);
                chart.overlays[0]->addText(1e300, -1e300, "far", 1e300);
                Recorder r;
                paintChart(chart, r, c.width, c.height);
                for (int v : r.coordinates)
                    ASSERT_LE(std::abs(v), 2 * kChartPixelLimit) << c.name << " style " << style;
            }
        }
    }
}

TEST(ChartPaint, TooSmallWindowPaintsOnlyTheBackground)
{
    ChartModel chart;
    chart.backColor = 0x123456;
    addPoints(chart, {{0, 1}, {1, 2}});
    Recorder r;
    paintChart(chart, r, 5, 5);
    ASSERT_EQ(r.fills.size(), 1u);
    EXPECT_EQ(r.fills[0].color, 0x123456u);
    EXPECT_EQ(r.lines, 0);
    EXPECT_TRUE(r.texts.empty());
}

TEST(ChartPaint, PolylineBreaksAtPointsThatCannotBeDrawn)
{
    ChartModel chart;
    chart.pointStyle = ChartModel::Polyline;
    addPoints(chart, {{0, 1}, {1, 2}, {2, kNaN}, {3, 1}, {4, 2}, {kInf, 0}, {6, 1}});
    Recorder r;
    paintChart(chart, r, 400, 300);
    ASSERT_EQ(r.polylines.size(), 2u);
    EXPECT_EQ(r.polylines[0].size(), 2u);
    EXPECT_EQ(r.polylines[1].size(), 2u);
}

TEST(ChartPaint, LegendOnlyWithASecondSeries)
{
    for (int count : {1, 2, 3}) {
        ChartModel chart;
        for (int i = 0; i < count; ++i)
            addPoints(chart, {{0, 1.0 + i}, {1, 2}});
        if (count == 3)
            chart.series[2]->name = "a name longer than twenty characters";
        Recorder r;
        paintChart(chart, r, 400, 300);
        EXPECT_EQ(r.hasText("Slice 0"), count > 1) << count;
        EXPECT_EQ(r.hasText("Slice 1"), count > 1) << count;
        if (count == 3) {
            EXPECT_TRUE(r.hasText("a name longer than t"));
        }
        const ChartPlotArea plot = chartPlotArea(chart, 400, 300);
        for (int i = 0; i < count && count > 1; ++i) {
            const COLORREF color = chart.getSeriesColor(i);
            EXPECT_TRUE(std::any_of(r.fills.begin(), r.fills.end(), [&](const Recorder::Fill& f) {
                return f.color == color && f.left == plot.right + 30 / 2 && f.width == 2 * chart.markerSize;
            })) << "square of series " << i;
        }
    }
}

TEST(ChartPaint, BarOfHalfTheRangeEndsInTheMiddleOfThePlot)
{
    ChartModel chart;
    chart.setRange(false, 0, 2, 0, 100);
    addPoints(chart, {{1, 50}});
    Recorder r;
    paintChart(chart, r, 500, 400);
    const ChartPlotArea plot = chartPlotArea(chart, 500, 400);
    const COLORREF color = chart.getSeriesColor(0);
    const auto bar = std::find_if(r.fills.begin(), r.fills.end(), [&](const Recorder::Fill& f) { return f.color == color; });
    ASSERT_NE(bar, r.fills.end());
    EXPECT_NEAR(bar->top, (plot.top + plot.bottom) / 2, 1);
    EXPECT_EQ(bar->top + bar->height, plot.bottom);
    EXPECT_NEAR(bar->left + bar->width / 2, (plot.left + plot.right) / 2, 1);
}

// The y label is one text turned to read upwards, centred half a layout unit into its room at the left
// and on the middle of the plot area's height (below the title), a multi-byte character kept.
TEST(ChartPaint, YLabelIsOneTurnedTextBesideThePlotMiddle)
{
    struct Case {
        const char* name;
        const char* title;
        const char* label;
    } cases[] = {
        {"no title", nullptr, "Rate [1/s]"},
        {"below the title", "Title", "Count"},
        {"two-byte character", nullptr, "\xC2\xB5Gy"},
    };
    for (const Case& c : cases) {
        ChartModel chart;
        chart.setLabels(c.title, "x", c.label);
        Recorder r;
        paintChart(chart, r, 400, 300); // the layout unit is 30 pixels, the title 45
        const Recorder::Text* label = r.find(c.label);
        ASSERT_NE(label, nullptr) << c.name;
        EXPECT_TRUE(label->vertical) << c.name;
        EXPECT_EQ(label->x, 3 + 15) << c.name;
        // Plot: top 3 (+ 45 under a title), bottom 300 - 3 - 30 (x label) - 30 (axes).
        const int top = c.title ? 3 + 45 : 3;
        EXPECT_EQ(label->y, (top + 237) / 2) << c.name;
        EXPECT_EQ(std::count_if(r.texts.begin(), r.texts.end(), [](const Recorder::Text& t) { return t.vertical; }), 1)
            << c.name;
    }
}

// The text size: the chart's own size when set, else the window's font, else half a layout unit in
// points; a window font taller than the layout unit widens the rooms so that the labels keep theirs.
TEST(ChartPaint, TextFollowsTheChartSizeOrTheWindowFont)
{
    struct Case {
        const char* name;
        int fontSize, windowSize, line;
        int labelSize;
        bool windowFace;
        int unit; // the layout unit at 400 x 300
    } cases[] = {
        {"no window font", 0, 0, 0, 150, false, 30},
        {"window font 9 pt", 0, 90, 15, 90, true, 30},
        {"chart size over the window", 120, 90, 20, 120, false, 30},
        {"window font taller than the unit", 0, 300, 44, 300, true, 44},
    };
    for (const Case& c : cases) {
        ChartModel chart;
        chart.setLabels("Title", "Pulse height", "Count");
        chart.fontSize = c.fontSize;
        chart.setRange(false, 0, 100, 0, 10);
        Recorder r;
        r.windowSize = c.windowSize;
        r.lineHeightGiven = c.line;
        paintChart(chart, r, 400, 300);
        for (const char* text : {"Title", "Pulse height", "Count", "100"}) {
            const Recorder::Text* t = r.find(text);
            ASSERT_NE(t, nullptr) << c.name << ": " << text;
            const bool title = std::string(text) == "Title";
            const int expected = title && c.windowSize == 0 && c.fontSize == 0 ? 45 * 5 : c.labelSize;
            EXPECT_EQ(t->font.size, expected) << c.name << ": " << text;
            EXPECT_EQ(t->font.bold, title) << c.name << ": " << text;
            EXPECT_EQ(t->font.defaultFace, c.windowFace) << c.name << ": " << text;
        }
        const ChartPlotArea plot = chartPlotArea(chart, r, 400, 300);
        EXPECT_EQ(plot.left, 3 + 3 * c.unit) << c.name << ": y label and axes rooms";
        EXPECT_EQ(plot.bottom, 300 - 3 - 2 * c.unit) << c.name << ": x label and axes rooms";
        EXPECT_EQ(r.find("Pulse height")->y, 300 - 3 - c.unit + c.unit / 4) << c.name;
    }
}

TEST(ChartPaint, TickLabelsUseFiveSignificantDigits)
{
    ChartModel chart;
    chart.setRange(false, 0, 100, 0, 1e6);
    Recorder r;
    paintChart(chart, r, 600, 400);
    EXPECT_TRUE(r.hasText("100"));
    EXPECT_TRUE(r.hasText("1e+06"));
}

// A curve joins the defined columns across the undefined ones.
class Gap : public ChartDataFunction {
public:
    bool evaluate(double x, double* y, double*) override
    {
        *y = x;
        return x < 10 || x > 20;
    }
};

TEST(ChartPaint, FunctionCurveSkipsUndefinedColumns)
{
    ChartModel chart;
    chart.setRange(false, 0, 30, 0, 30);
    chart.addSeries(0, 0, 1, nullptr)->functions.push_back(std::make_unique<Gap>());
    Recorder r;
    paintChart(chart, r, 400, 300);
    ASSERT_EQ(r.polylines.size(), 1u);
    const ChartPlotArea plot = chartPlotArea(chart, 400, 300);
    EXPECT_LT(r.polylines[0].size(), static_cast<size_t>(plot.width() + 1));
    EXPECT_EQ(r.polylines[0].front().x, plot.left);
    EXPECT_EQ(r.polylines[0].back().x, plot.right);
}

} // namespace
