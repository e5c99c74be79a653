// The plot without its window: tick steps and label scales, tick loops that end on any range, the range
// rules of auto scaling and the tool-bar steps, points that are not finite, and the text export.
#include "plot_model.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A model laid out in a 400 x 300 rectangle with the metrics of an 8-point font.
class LaidOut : public Plot2DModel {
public:
    LaidOut()
    {
        digitWidth = 6;
        lineHeight = 13;
    }
    bool layout(int width = 400, int height = 300)
    {
        PlotRect r = plotArea({0, 0, width, height});
        return layoutAxes(r);
    }
};

TEST(PlotAxesTest, TickStepsAndLabelScales)
{
    const struct {
        int n;
        double min, max;
        double step, scale;
        std::vector<std::string> labels;
    } cases[] = {
        {10, 0, 50000, 10000, 10000, {"0", "1", "2", "3", "4"}},
        {10, 0, 2000, 250, 1000, {"0", "0.25", "0.5", "0.75", "1", "1.25", "1.5", "1.75"}},
        {3, 0, 1, 0.5, 1, {"0", "0.5"}},
        // -0.6 + 6 x 0.1 is 1.1e-16: labelled 0
        {8, -0.7, 0.05, 0.1, 1, {"-0.6", "-0.5", "-0.4", "-0.3", "-0.2", "-0.1", "0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << " .. " << c.max << " in " << c.n);
        double step = 0, scale = 0;
        Plot2DModel::calcTickStep(c.n, c.max - c.min, step, scale);
        scale = Plot2DModel::calcLabelScale(c.min, c.max, step, scale);
        EXPECT_DOUBLE_EQ(step, c.step);
        EXPECT_DOUBLE_EQ(scale, c.scale);
        LaidOut plot;
        plot.xMin = c.min;
        plot.xMax = c.max;
        plot.xTickStep = step;
        plot.xTickStart = step * std::trunc(c.min / step);
        if (plot.xTickStart < c.min)
            plot.xTickStart += step;
        plot.xLabelCount = c.n;
        std::vector<std::string> labels;
        for (double t : plot.xTicks())
            labels.push_back(Plot2DModel::tickLabel(t, scale));
        EXPECT_EQ(labels, c.labels);
    }
    EXPECT_EQ(Plot2DModel::labelExponent(10000), 4);
    EXPECT_EQ(Plot2DModel::labelExponent(1e-3), -3);

    // No room for a label: no step, so no tick at all.
    double step = 1, scale = 1;
    Plot2DModel::calcTickStep(0, 10, step, scale);
    EXPECT_EQ(step, 0);
    Plot2DModel::calcTickStep(5, kInf, step, scale);
    EXPECT_EQ(step, 0);
}

TEST(PlotAxesTest, TickLoopsEndOnTinyAndFarOffRanges)
{
    const double base = 1000;
    const double top = std::nextafter(std::nextafter(std::nextafter(base, 2000.0), 2000.0), 2000.0);
    const struct {
        double min, max;
    } cases[] = {{-5e-13, 5e-13}, {base, top}, {1e300, std::nextafter(1e300, kInf)}, {-1e-300, 1e-300}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << " .. " << c.max);
        for (auto [w, h] : {std::pair{400, 300}, std::pair{20000, 20000}}) {
            LaidOut plot;
            plot.xMin = plot.yMin = c.min;
            plot.xMax = plot.yMax = c.max;
            plot.layout(w, h);
            EXPECT_LE(plot.xTicks().size(), 12u);
            EXPECT_LE(plot.yTicks().size(), 12u);
            for (double t : plot.xTicks()) {
                double px = 0;
                EXPECT_TRUE(plot.mapX(t, px));
            }
        }
    }
}

TEST(PlotAxesTest, LayoutLeavesNothingToDrawWithoutRoom)
{
    const struct {
        int width, height;
        double xMin, xMax;
        bool drawn;
    } cases[] = {
        {400, 300, 0, 10, true}, {2, 2, 0, 10, false}, {400, 300, 5, 5, false},
        {400, 300, 1e300, -1e300, false}, {400, 300, kNaN, 1, false}, {400, 300, 0, kInf, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.xMin << ".." << c.xMax);
        LaidOut plot;
        plot.xMin = c.xMin;
        plot.xMax = c.xMax;
        plot.yMin = 0;
        plot.yMax = 1;
        EXPECT_EQ(plot.layout(c.width, c.height), c.drawn);
    }
}

TEST(PlotPointsTest, PointsThatAreNotFiniteNeitherScaleNorMap)
{
    LaidOut plot;
    ASSERT_TRUE(plot.addEmptySeries(-1));
    for (auto [x, y] : {std::pair{0.0, 1.0}, {1.0, kNaN}, {kInf, 2.0}, {2.0, -kInf}, {3.0, 3.0}})
        ASSERT_TRUE(plot.addPoint(false, x, y));
    EXPECT_EQ(plot.xMin, 0);
    EXPECT_EQ(plot.xMax, 3);
    EXPECT_EQ(plot.yMin, 1);
    EXPECT_EQ(plot.yMax, 3);
    ASSERT_TRUE(plot.layout());
    double p = 0;
    EXPECT_FALSE(plot.mapX(kNaN, p));
    EXPECT_FALSE(plot.mapY(kInf, p));
    ASSERT_TRUE(plot.mapX(1e308, p)); // far off: clamped, still on the right side
    EXPECT_GT(p, plot.plotRect.right);
    EXPECT_LT(p, 2e6);
    ASSERT_TRUE(plot.mapY(-1e308, p));
    EXPECT_GT(p, plot.plotRect.bottom);
}

TEST(PlotRangesTest, AutoScalingFixedEndsAndFlatRanges)
{
    {
        Plot2DModel plot; // a flat series widens downwards, or upwards with a fixed minimum
        std::vector<double> flat = {5, 5, 5};
        ASSERT_TRUE(plot.addValueSeries(flat, 0, 1));
        EXPECT_EQ(plot.xMin, 0);
        EXPECT_EQ(plot.xMax, 3) << "the last bin keeps its width";
        plot.updateYRange();
        EXPECT_EQ(plot.yMin, 4);
        EXPECT_EQ(plot.yMax, 5);
        plot.fixYMin = true;
        plot.fixedYMin = 5;
        plot.updateYRange();
        EXPECT_EQ(plot.yMin, 5);
        EXPECT_EQ(plot.yMax, 6);
    }
    {
        Plot2DModel plot; // a fixed end wins over the data
        plot.fixXMax = true;
        plot.fixedXMax = 10;
        std::vector<double> v = {1, 2, 3};
        plot.addValueSeries(v, 0, 5);
        EXPECT_EQ(plot.xMax, 10);
        EXPECT_TRUE(plot.addSeries(-1, std::make_unique<Plot2DSeries>(std::vector<double>{1}, 100, 1)));
        EXPECT_EQ(plot.xMax, 101) << "data beyond the fixed end still move it out";
        plot.updateXRange();
        EXPECT_EQ(plot.xMax, 10);
    }
    {
        Plot2DModel plot; // an empty plot keeps its unknown ranges
        plot.clearSeries();
        EXPECT_EQ(plot.xMin, 1e300);
        EXPECT_EQ(plot.yMax, -1e300);
        EXPECT_FALSE(plot.setPointY(1, 2)) << "no series";
        plot.addEmptySeries(-1);
        plot.addPoint(false, 1, 1);
        EXPECT_FALSE(plot.setPointY(2, 5)) << "no point at that x";
        EXPECT_TRUE(plot.setPointY(1, 5));
        EXPECT_EQ(plot.yMax, 5);
        EXPECT_FALSE(plot.addPoint(false, 1, 1, 3)) << "no such graph";
    }
}

TEST(PlotRangesTest, ToolBarStepsAndTheStepsThatAreIgnored)
{
    const struct {
        const char* name;
        double xMin, xMax, yMin, yMax;
        bool fixXMin;
        bool (Plot2DModel::*step)();
        bool applied;
        double exMin, exMax, eyMin, eyMax;
    } cases[] = {
        {"zoom in x", 0, 10, 0, 1, false, &Plot2DModel::zoomInX, true, 2, 8, 0, 1},
        {"zoom in x, fixed min", 0, 10, 0, 1, true, &Plot2DModel::zoomInX, true, 0, 8, 0, 1},
        {"zoom out x", 0, 10, 0, 1, false, &Plot2DModel::zoomOutX, true, -2, 12, 0, 1},
        {"zoom in y keeps the minimum", 0, 1, 0, 10, false, &Plot2DModel::zoomInY, true, 0, 1, 0, 8},
        {"zoom out y", 0, 1, 0, 10, false, &Plot2DModel::zoomOutY, true, 0, 1, 0, 12},
        {"empty plot", 1e300, -1e300, 1e300, -1e300, false, &Plot2DModel::zoomInX, false, 1e300, -1e300, 1e300, -1e300},
        {"zero width", 5, 5, 0, 1, false, &Plot2DModel::zoomOutX, false, 5, 5, 0, 1},
        {"huge range", -1e308, 1e308, 0, 1, false, &Plot2DModel::zoomOutX, false, -1e308, 1e308, 0, 1},
        {"flat y", 0, 1, 3, 3, false, &Plot2DModel::zoomInY, false, 0, 1, 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Plot2DModel plot;
        plot.xMin = c.xMin;
        plot.xMax = c.xMax;
        plot.yMin = c.yMin;
        plot.yMax = c.yMax;
        plot.fixXMin = c.fixXMin;
        EXPECT_EQ((plot.*c.step)(), c.applied);
        EXPECT_DOUBLE_EQ(plot.xMin, c.exMin);
        EXPECT_DOUBLE_EQ(plot.xMax, c.exMax);
        EXPECT_DOUBLE_EQ(plot.yMin, c.eyMin);
        EXPECT_DOUBLE_EQ(plot.yMax, c.eyMax);
        EXPECT_EQ(plot.autoScaleX && plot.autoScaleY, !c.applied);
    }

    const struct {
        const char* name;
        double min, max;
        bool vertical;
        int direction;
        bool applied;
        double eMin, eMax;
    } pans[] = {
        {"left", 0, 10, false, -1, true, -2, 8},
        {"right", 0, 10, false, 1, true, 2, 12},
        {"up on a flat range moves 0.5", 3, 3, true, 1, true, 3.5, 3.5},
        {"down", 0, 10, true, -1, true, -2, 8},
        {"empty", 1e300, -1e300, false, 1, false, 1e300, -1e300},
        {"to infinity", 1e308, 1.7e308, false, 1, false, 1e308, 1.7e308},
    };
    for (const auto& c : pans) {
        SCOPED_TRACE(c.name);
        Plot2DModel plot;
        double& lo = c.vertical ? plot.yMin : plot.xMin;
        double& hi = c.vertical ? plot.yMax : plot.xMax;
        lo = c.min;
        hi = c.max;
        EXPECT_EQ(c.vertical ? plot.panVertically(c.direction) : plot.panHorizontally(c.direction), c.applied);
        EXPECT_DOUBLE_EQ(lo, c.eMin);
        EXPECT_DOUBLE_EQ(hi, c.eMax);
    }

    // Seventy zoom-ins still give a layout whose tick loops end.
    LaidOut plot;
    plot.xMin = 0;
    plot.xMax = 1000;
    plot.yMin = 0;
    plot.yMax = 1;
    for (int i = 0; i < 200; ++i)
        plot.zoomInX();
    plot.layout();
    EXPECT_LE(plot.xTicks().size(), 12u);
    EXPECT_LT(plot.xMin, plot.xMax);
}

std::string scratch(const std::string& name)
{
    static const std::string dir = ombrel_test::scratchDir("uikit-plot");
    return dir + "/" + name;
}

std::string readAll(const std::string& path)
{
    return ombrel_test::readFile(path);
}

TEST(PlotTextTest, SeriesAsTwoLinesEachAndHiddenGraphsLeftOut)
{
    Plot2DModel plot;
    plot.addEmptySeries(-1);
    plot.addPoint(false, 1, 3);
    plot.addPoint(false, 2, 4);
    plot.addEmptySeries(-1); // no points: not written
    plot.addGraph("second");
    plot.addEmptySeries(1);
    plot.addPoint(false, 1e-7, 0.1, 1);
    const std::string path = scratch("points.dat");
    ASSERT_EQ(plot.saveText(path.c_str()), 0);
    EXPECT_EQ(readAll(path), std::string("1.000000 2.000000 \n3.000000 4.000000 \n\n") + "1e-07 \n0.100000 \n\n");
    plot.showGraph(-2, false);
    ASSERT_EQ(plot.saveText(path.c_str()), 0);
    EXPECT_EQ(readAll(path), "");
    EXPECT_EQ(plot.saveText((path + "/under.dat").c_str()), -1);
}

} // namespace
