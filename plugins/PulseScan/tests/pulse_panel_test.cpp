// The window's contents, headless with every Qt warning fatal: the settings checks with their messages,
// start and stop, refreshes from the analysis and saving.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "chart/bitmap_view.h"
#include "chart/chart_2d.h"
#include "ombrel_test_support.h"
#include "pulse_files.h"
#include "pulse_panel.h"
#include "pulse_settings.h"
#include "uikit/message_box.h"

namespace {

struct Boxes {
    std::vector<std::string> texts;
    MessageBoxHandler old;
    Boxes()
    {
        old = setMessageBoxHandler([this](QWidget*, const QString& text, const QString&, unsigned) {
            texts.push_back(text.toStdString());
            return int(MSGBOX_IDOK);
        });
    }
    ~Boxes() { setMessageBoxHandler(old); }
};

TEST(PulsePanel, BadSettingsShowTheirMessageAndDoNotStart)
{
    const std::string dir = ombrel_test::scratchDir("pulse_panel");
    struct Case {
        const char* key;
        const char* text;
        const char* message;
    } cases[] = {
        {pulsekey::EnhanceFactor, "17", "Bad value of resolution enhancement factor"},
        {pulsekey::EnhanceFactor, "0", "Bad value of resolution enhancement factor"},
        {pulsekey::OverlapLevel, "-3", "Bad value of cluster overlap decission level."},
        {pulsekey::ClusterThreshold, "many", "Bad value"},
        {pulsekey::ShapeHistory, "", "Bad value"},
    };
    for (const Case& c : cases) {
        Boxes boxes;
        auto device = std::make_shared<PulseDevice>(0);
        PulseScanPanel panel(device, dir + "/PulseScan_fake_F0.txt", 256, 256);
        panel.edit(c.key)->setText(QString::fromUtf8(c.text));
        panel.startButton()->click();
        EXPECT_EQ(boxes.texts, std::vector<std::string>{c.message}) << c.key << " = " << c.text;
        EXPECT_FALSE(device->running());
        EXPECT_EQ(panel.startButton()->text(), QStringLiteral("Start measurement"));
    }
}

TEST(PulsePanel, StartAnalysesRefreshesAndSaves)
{
    const std::string dir = ombrel_test::scratchDir("pulse_panel_run");
    const std::string settingsFile = dir + "/PulseScan_fake_F0.txt";
    Boxes boxes;
    auto device = std::make_shared<PulseDevice>(0);
    {
        PulseScanPanel panel(device, settingsFile, 8, 8);
        EXPECT_TRUE(device->windowOpen);
        panel.resize(1100, 750);
        panel.edit(pulsekey::EnhanceFactor)->setText(QStringLiteral("2"));
        panel.edit(pulsekey::ShapeHistory)->setText(QStringLiteral("3"));
        panel.startButton()->click();
        ASSERT_TRUE(device->running());
        EXPECT_EQ(panel.startButton()->text(), QStringLiteral("Stop"));
        EXPECT_EQ(loadPulseSettings(settingsFile).shapeHistory, 3u) << "started settings are kept in the file";

        std::vector<uint16_t> frame(64, 0);
        frame[2 * 8 + 3] = 9;
        const uint16_t pulse[] = {100, 300, 200, 100, 100};
        for (int i = 0; i < 5; ++i)
            device->analyse(frame.data(), 8, 8, pulse, 5);
        QApplication::processEvents();
        EXPECT_EQ(panel.shapeChart()->series.size(), 3u);
        ASSERT_EQ(panel.spectrumChart()->series.size(), 1u);
        EXPECT_EQ(panel.sizeChart()->series.size(), 1u);
        EXPECT_EQ(panel.roundnessChart()->series.size(), 1u);
        EXPECT_EQ(panel.coincidenceView()->imageWidth(), 8u);
        EXPECT_EQ(panel.enhancedView()->imageWidth(), 16u);
        EXPECT_NE(panel.countersText().indexOf(QStringLiteral("Coincidences: 5")), -1) << panel.countersText().toStdString();
        EXPECT_FALSE(panel.grab().isNull());

        ASSERT_TRUE(panel.saveResults(dir));
        EXPECT_EQ(ombrel_test::readFile(dir + "/Coincidence image.txt").substr(0, 34),
                  "0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 ");
        EXPECT_FALSE(panel.saveResults(dir + "/no/such/folder"));
        EXPECT_EQ(boxes.texts.size(), 1u);

        panel.startButton()->click();
        EXPECT_FALSE(device->running());
    }
    EXPECT_FALSE(device->windowOpen) << "the window is gone";
    device->start(device->settings());
    device->analyse(std::vector<uint16_t>(64, 0).data(), 8, 8, nullptr, 0); // no window to ask: nothing queued
    QApplication::processEvents();
}

} // namespace
