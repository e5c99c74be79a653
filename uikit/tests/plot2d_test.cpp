// The plot window: its tool bar and the notification it sends only for the user's own actions, the
// context menu, drawing whatever the data hold, and the exports.
#include "plot2d.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"

#include <QAbstractButton>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QSvgRenderer>

#include "image_saving.h"
#include "message_box.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string scratch(const std::string& name)
{
    static const std::string dir = ombrel_test::scratchDir("uikit-plot2d");
    return dir + "/" + name;
}

std::string readAll(const std::string& path)
{
    return ombrel_test::readFile(path);
}

TEST(Plot2DTest, ChangeSignalOnlyForToolBarActions)
{
    Plot2D plot;
    plot.resize(400, 300);
    std::vector<double> v = {1, 5, 2};
    plot.addValueSeries(v, 0, 1);
    QSignalSpy changes(&plot, &Plot2D::changedByUser);

    plot.setXRange(0, 10); // the owner's own calls: no signal
    plot.setAutoScaleY(true);
    plot.runCommand(Plot2D::StyleLines);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_FALSE(plot.toolButton(Plot2D::AutoScaleX)->isChecked()) << "the button follows the owner's change";

    const struct {
        int id;
        int what;
    } cases[] = {
        {Plot2D::PanLeft, Plot2DModel::XRangeChanged},   {Plot2D::PanUp, Plot2DModel::YRangeChanged},
        {Plot2D::ZoomInX, Plot2DModel::XRangeChanged},   {Plot2D::ZoomOutY, Plot2DModel::YRangeChanged},
        {Plot2D::AutoScaleX, Plot2DModel::XAutoScaleToggled}, {Plot2D::AutoScaleY, Plot2DModel::YAutoScaleToggled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        changes.clear();
        plot.toolButton(c.id)->click();
        ASSERT_EQ(changes.count(), 1);
        EXPECT_EQ(changes[0][0].toInt(), c.what);
    }
    EXPECT_TRUE(plot.autoScaleX) << "the check button switched x auto scaling on";
    EXPECT_EQ(plot.xMin, 0);
    EXPECT_EQ(plot.xMax, 3);

    // A step on an empty plot is ignored and not reported.
    Plot2D empty;
    QSignalSpy none(&empty, &Plot2D::changedByUser);
    empty.toolButton(Plot2D::ZoomInX)->click();
    empty.toolButton(Plot2D::PanRight)->click();
    EXPECT_EQ(none.count(), 0);
}

TEST(Plot2DTest, ButtonsPackAgainstTheRightEdge)
{
    Plot2D plot;
    plot.buttonMask = 0x3F0;
    plot.resize(300, 200);
    plot.show();
    plot.layoutToolbar();
    for (int id = Plot2D::PanLeft; id <= Plot2D::AutoScaleY; ++id) {
        SCOPED_TRACE(id);
        QAbstractButton* b = plot.toolButton(id);
        if (id < Plot2D::ZoomInX) {
            EXPECT_FALSE(b->isVisible());
            continue;
        }
        ASSERT_TRUE(b->isVisible());
        EXPECT_EQ(b->geometry(), QRect(300 - 22 - (Plot2D::AutoScaleY - id) * 23, 0, 22, 22));
    }
}

TEST(Plot2DTest, ContextMenuHoldsTheItemsOfItsFlags)
{
    Plot2D plot;
    EXPECT_EQ(plot.createContextMenu(), nullptr);
    plot.menuFlags = 0x3D;
    plot.defaultStyle = Plot2DSeries::AutoWidthHistogram;
    std::unique_ptr<QMenu> menu(plot.createContextMenu());
    ASSERT_TRUE(menu);
    QStringList texts, checked;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            continue;
        texts << a->text();
        if (a->isChecked())
            checked << a->text();
    }
    EXPECT_EQ(texts, (QStringList{"Points", "Histograms (auto-width)", "Lines", "Show Grid", "Save image"}));
    EXPECT_EQ(checked, (QStringList{"Histograms (auto-width)", "Show Grid"}));
    plot.runCommand(Plot2D::ToggleGrid);
    EXPECT_FALSE(plot.showGrid);
}

QImage rendered(Plot2D& plot, QSize size = QSize(400, 300))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter p(&image);
    plot.render(p, QRect(QPoint(0, 0), size));
    return image;
}

TEST(Plot2DTest, DrawsWhateverTheDataHold)
{
    {
        Plot2D plot; // nothing to show: background only, ranges unknown
        const QImage image = rendered(plot);
        EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white));
        EXPECT_EQ(image.pixelColor(200, 150), QColor(Qt::white));
        EXPECT_EQ(plot.xMin, 1e300);
    }
    const struct {
        const char* name;
        std::vector<std::pair<double, double>> points;
        int style;
    } cases[] = {
        {"not finite", {{0, 1}, {1, kNaN}, {kInf, 2}, {2, -kInf}, {3, 3}}, Plot2DSeries::Lines},
        {"far off", {{0, 0}, {1, 1e308}, {2, -1e308}, {3, 1}}, Plot2DSeries::AutoWidthHistogram},
        {"one point", {{5, 5}}, Plot2DSeries::Histogram},
        {"points", {{0, 0}, {1e-300, 1}}, Plot2DSeries::Points},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Plot2D plot;
        plot.defaultStyle = c.style;
        plot.addEmptySeries(-1);
        for (auto [x, y] : c.points)
            plot.addPoint(false, x, y);
        for (QSize size : {QSize(400, 300), QSize(2, 2), QSize(30, 10)})
            rendered(plot, size);
        const double yMax = plot.yMax;
        rendered(plot);
        EXPECT_EQ(plot.yMax, yMax) << "drawing changes no range";
    }

    // 100000 points as lines.
    Plot2D big;
    std::vector<double> values(100000);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = std::sin(i * 1e-3);
    big.addValueSeries(values, 0, 1);
    const QImage image = rendered(big);
    int red = 0;
    for (int x = 0; x < 400; ++x)
        for (int y = 0; y < 300; ++y)
            red += image.pixelColor(x, y) == QColor(255, 0, 0);
    EXPECT_GT(red, 300) << "the first series is red";
}

// A histogram over the level range 0..1 with counts only at both ends (a frame of mask bits): 256 bins
// and the point that closes the last one. Both end bars are drawn inside the plot, where they can be seen,
// not on the y axis or past the right edge.
TEST(Plot2DTest, HistogramBarsAtBothEndsOfTheRangeLieInsideThePlot)
{
    for (QSize size : {QSize(252, 124), QSize(400, 300), QSize(97, 80)}) {
        SCOPED_TRACE(size.width());
        Plot2D plot;
        plot.showGrid = false;
        plot.fixYMin = true;
        plot.defaultStyle = Plot2DSeries::AutoWidthHistogram;
        std::vector<double> bins(256, 0.0);
        bins.front() = 30;
        bins.back() = 65506;
        plot.addValueSeries(bins, 0, 1.0 / 256);
        plot.addPoint(false, 1.0, 0);
        plot.setXRange(0, 1);
        plot.updateYRange();
        const QImage image = rendered(plot, size);
        const PlotRect r = plot.plotRect;
        auto redIn = [&](int x0, int x1) {
            int red = 0;
            for (int x = x0; x <= x1; ++x)
                for (int y = r.top; y < r.bottom; ++y)
                    red += image.pixelColor(x, y) == QColor(255, 0, 0);
            return red;
        };
        EXPECT_GT(redIn(r.right - 2, r.right - 1), (r.bottom - r.top) / 2) << "the bar of the top value";
        EXPECT_GT(redIn(r.left + 1, r.left + 2), 0) << "the bar of the lowest value";
        EXPECT_EQ(redIn(r.right, size.width() - 1), 0) << "nothing right of the plot";
    }
}

// Ranges whose labels are scaled by a power of ten: the last label, centred on its tick, ends before the
// "10" at the axis end begins (the label font measured as the plot draws it).
TEST(Plot2DTest, ThePowerOfTenStandsClearOfTheLastLabel)
{
    const struct {
        double max;
        int width;
    } cases[] = {{2552, 252}, {2000, 252}, {50000, 400}, {2552, 400}, {9999, 252}, {65535, 180}, {1300, 252}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.max) + " in " + std::to_string(c.width));
        Plot2D plot;
        plot.addValueSeries(std::vector<double>{1, 2}, 0, 1);
        plot.setXRange(0, c.max);
        rendered(plot, QSize(c.width, 124));
        const std::vector<double> ticks = plot.xTicks();
        ASSERT_FALSE(ticks.empty());
        ASSERT_NE(plot.xLabelScale, 1) << "a range with an exponent";
        double x = 0;
        ASSERT_TRUE(plot.mapX(ticks.back(), x));
        const Plot2DModel& model = plot;
        const double labelEnd = x + model.labelTextWidth(Plot2DModel::tickLabel(ticks.back(), plot.xLabelScale)) / 2;
        const int exponentX = plot.plotRect.right + int(plot.xLabelExtra * plot.digitWidth / 2);
        EXPECT_LT(labelEnd, exponentX);
        EXPECT_GE(plot.plotRect.width(), c.width / 2) << "the plot keeps most of its width";
    }
}

TEST(Plot2DTest, ExportsByExtension)
{
    Plot2D plot;
    plot.addEmptySeries(-1);
    plot.addPoint(false, 1, 3);
    plot.addPoint(false, 2, 4);
    const struct {
        const char* name;
        int expected;
        const char* magic; // null: text, "svg": loads as SVG, "": no file
    } cases[] = {
        {"p.png", 0, "\x89PNG"}, {"p.jpg", 0, "\xFF\xD8\xFF"}, {"p.bmp", 0, "BM"}, {"p.gif", 0, "GIF8"},
        {"p.tif", 0, nullptr}, {"p.svg", 0, "svg"}, {"p.dat", 0, nullptr}, {"p.", 0, nullptr},
        {"p.emf", -2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch(c.name);
        std::filesystem::remove(path);
        ASSERT_EQ(plot.saveImage(path.c_str(), 400, 300), c.expected);
        if (!c.magic) {
            if (std::string(c.name) != "p.tif") {
                EXPECT_EQ(readAll(path), "1.000000 2.000000 \n3.000000 4.000000 \n\n");
            } else {
                EXPECT_EQ(QImage(QString::fromStdString(path)).size(), QSize(400, 300));
            }
        } else if (std::string(c.magic) == "svg") {
            EXPECT_TRUE(QSvgRenderer(QString::fromStdString(path)).isValid());
        } else if (*c.magic) {
            EXPECT_EQ(readAll(path).substr(0, std::strlen(c.magic)), c.magic);
        } else {
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
    EXPECT_EQ(plot.saveImage(scratch("big.png").c_str(), 0, 300), -2);

    // The menu's save: a failure is told in a box (a folder that is a regular file fails even for root).
    std::vector<QString> boxes;
    const MessageBoxHandler previousBox = setMessageBoxHandler([&](QWidget*, const QString& text, const QString&, unsigned) {
        boxes.push_back(text);
        return int(MSGBOX_IDOK);
    });
    QString target = QString::fromStdString(scratch("p.png") + "/under.png");
    const SaveDialogHandler previousDialog = setSaveDialogHandler([&](const SaveDialogRequest&, QString& path, int&) {
        path = target;
        return true;
    });
    plot.runCommand(Plot2D::SaveImage);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], QStringLiteral("Saving of image file failed."));
    target = QString::fromStdString(scratch("menu.png"));
    plot.runCommand(Plot2D::SaveImage);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(QImage(target).size(), QSize(400, 300));
    setSaveDialogHandler(previousDialog);
    setMessageBoxHandler(previousBox);
}

} // namespace
