// The window's contents, headless with every Qt warning fatal: points added from files (a bad file gives
// the Part's box) and from the device's last acquisition, removed and selected; the settings reach the
// context; profiles saved and loaded; the chart and the pictures show the context's copies.
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QTreeWidget>

#include "calib_fixture.h"
#include "chart/bitmap_view.h"
#include "chart/chart_2d.h"
#include "fake_manager.h"
#include "hardencal_panel.h"
#include "ombrel_test_support.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

namespace {

using hcaltest::fake;
using hcaltest::kPixels;

double exponential(double t, int i)
{
    return (5000.0 + 10.0 * (i % 13)) * std::exp(-(0.3 + 0.01 * (i % 11)) * t) + 100.0 + i % 7;
}

struct Box {
    std::string text;
    std::string caption;
};

class PanelTest : public testing::Test {
protected:
    void SetUp() override
    {
        fake().reset();
        dir = ombrel_test::scratchDir("hardencal-panel");
        fake().configsDir = dir + "/";
        fake().devices[0] = {1, 1, "H7-W0042", "dummy", false, {}};
        host.createContexts();
        fake().log.clear();
        oldHandler = setMessageBoxHandler([this](QWidget*, const QString& text, const QString& caption, unsigned) {
            boxes.push_back({text.toStdString(), caption.toStdString()});
            return int(MSGBOX_IDOK);
        });
        HardenCalPanel::setFileChooserForTests([this](const QString& caption, const QString&, bool) {
            asked.push_back(caption.toStdString());
            if (answers.empty())
                return QString();
            const QString a = QString::fromStdString(answers.front());
            answers.erase(answers.begin());
            return a;
        });
        panel = std::make_unique<HardenCalPanel>(host, *host.context(0));
    }
    void TearDown() override
    {
        panel.reset();
        HardenCalPanel::setFileChooserForTests({});
        setMessageBoxHandler(oldHandler);
        std::filesystem::remove_all(dir);
    }

    std::string matrixFile(const std::string& name, double t)
    {
        std::string text;
        for (int i = 0; i < kPixels; ++i)
            text += std::to_string(exponential(t, i) * 2.0) + (i % 256 == 255 ? "\n" : " ");
        const std::string path = dir + "/" + name;
        EXPECT_TRUE(ombrel_test::writeFile(path, text));
        return path;
    }

    std::string dir;
    const _MgrFuncTable table = hcaltest::fakeTable();
    hcal::CalibHost host{&table};
    std::unique_ptr<HardenCalPanel> panel;
    MessageBoxHandler oldHandler;
    std::vector<Box> boxes;
    std::vector<std::string> asked;
    std::vector<std::string> answers;
};

TEST_F(PanelTest, PointsFromFilesAndFromTheLastAcquisition)
{
    hcal::CalibContext& ctx = *host.context(0);
    // Data and no sigma file (Cancel): sigma from the counts.
    answers = {matrixFile("d0.txt", 0.0)};
    panel->timeEdit()->setText("2");
    ASSERT_TRUE(panel->addFromFiles());
    EXPECT_EQ(asked, (std::vector<std::string>{"Choose data array", "Choose sigma array (Cancel if poissonian noise)"}));
    ASSERT_EQ(panel->pointList()->topLevelItemCount(), 1);
    EXPECT_EQ(panel->pointList()->topLevelItem(0)->text(2).toStdString(), "2");

    // A file that is no matrix of the device's size: the box, nothing added.
    ASSERT_TRUE(ombrel_test::writeFile(dir + "/bad.txt", "1 2 3\n"));
    answers = {dir + "/bad.txt"};
    EXPECT_FALSE(panel->addFromFiles());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Incompatible file format");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(ctx.points().size(), 1u);

    // Two more from files (with a sigma file), one from the device's frames.
    answers = {matrixFile("d1.txt", 1.0), matrixFile("s1.txt", 3.0), matrixFile("d2.txt", 2.0)};
    panel->thicknessEdit()->setText("1");
    ASSERT_TRUE(panel->addFromFiles());
    panel->thicknessEdit()->setText("2");
    ASSERT_TRUE(panel->addFromFiles());
    fake().devices[0].frames = {{hcaltest::countsAt(exponential, 4.0, 0.5), 0.5},
                                {hcaltest::countsAt(exponential, 4.0, 1.5), 1.5}};
    panel->thicknessEdit()->setText("4");
    ASSERT_TRUE(panel->addFromLastAcquisition());
    const auto points = ctx.points();
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[3].thickness, 4.0);
    EXPECT_EQ(points[3].time, 2.0);
    hcal::PointData d;
    ASSERT_TRUE(ctx.pointData(1, d));
    EXPECT_NEAR(d.sigma[5], exponential(3.0, 5) * 2.0, 1e-3);

    // Select, then remove.
    panel->pointList()->setCurrentItem(panel->pointList()->topLevelItem(2));
    EXPECT_EQ(ctx.selectedPoint(), 2);
    ASSERT_TRUE(panel->removeSelected());
    EXPECT_EQ(ctx.points().size(), 3u);
    EXPECT_EQ(panel->pointList()->topLevelItemCount(), 3);
    fake().devices[0].frames.clear();
    EXPECT_FALSE(panel->addFromLastAcquisition());
    EXPECT_EQ(boxes.back().text, "SetupFromFrames: Error getting frames");
}

TEST_F(PanelTest, SettingsReachTheContextAndTheChartShowsThePixel)
{
    hcal::CalibContext& ctx = *host.context(0);
    for (double t : {0.0, 1.0, 2.0, 4.0})
        ASSERT_EQ(ctx.addPoint(t, 2.0, hcaltest::countsAt(exponential, t, 2.0), {}), hcal::Status::ok);
    panel->refresh();
    panel->methodBox()->setCurrentIndex(hcal::kLinear);
    EXPECT_EQ(ctx.method(), hcal::kLinear);
    panel->methodBox()->setCurrentIndex(hcal::kExponential);
    struct Switch {
        QCheckBox* box;
        bool (hcal::CalibContext::*get)() const;
    };
    for (const Switch& s : {Switch{panel->extrapolateBox(), &hcal::CalibContext::extrapolate},
                            Switch{panel->derivativeBox(), &hcal::CalibContext::errorByDerivative},
                            Switch{panel->fillBox(), &hcal::CalibContext::fillBadPixels}}) {
        const bool before = (ctx.*s.get)();
        s.box->setChecked(!before);
        EXPECT_EQ((ctx.*s.get)(), !before) << s.box->text().toStdString();
    }

    panel->setPixel(3, 2);
    CChart2d& chart = *panel->chart();
    ASSERT_EQ(chart.series.size(), 1u);
    const ChartSeries& s = *chart.series[0];
    ASSERT_EQ(s.count(), 4u);
    const int pixel = 2 * 256 + 3;
    EXPECT_EQ(s.points[1].x, 1.0);
    EXPECT_DOUBLE_EQ(s.points[1].y, exponential(1.0, pixel));
    ASSERT_EQ(s.functions.size(), 1u);
    double y = 0.0;
    ASSERT_TRUE(s.functions[0]->evaluate(1.5, &y, nullptr));
    EXPECT_NEAR(y, exponential(1.5, pixel), 1e-3 * y);

    EXPECT_EQ(panel->maskView()->imageWidth(), 256u);
    EXPECT_EQ(panel->thicknessView()->imageHeight(), 256u);
    EXPECT_FALSE(panel->statisticsText().isEmpty());
}

TEST_F(PanelTest, ProfileSavedAndLoadedThroughTheChooser)
{
    hcal::CalibContext& ctx = *host.context(0);
    for (double t : {0.0, 1.0, 2.0})
        ASSERT_EQ(ctx.addPoint(t, 2.0, hcaltest::countsAt(exponential, t, 2.0), {}), hcal::Status::ok);
    const std::string path = dir + "/saved_calib.txt";
    answers = {path};
    ASSERT_TRUE(panel->saveProfile());
    ASSERT_EQ(ctx.removePoint(0), hcal::Status::ok);
    answers = {path};
    ASSERT_TRUE(panel->loadProfile());
    EXPECT_EQ(ctx.points().size(), 3u);
    EXPECT_EQ(panel->pointList()->topLevelItemCount(), 3);

    ASSERT_TRUE(ombrel_test::writeFile(dir + "/broken_calib.txt", "Calibration config\n"));
    answers = {dir + "/broken_calib.txt"};
    EXPECT_FALSE(panel->loadProfile());
    EXPECT_EQ(boxes.back().text, "Error loading calibration configuration file. Read failed: " + dir + "/broken_calib.txt");
    EXPECT_EQ(ctx.points().size(), 3u);
}

} // namespace
