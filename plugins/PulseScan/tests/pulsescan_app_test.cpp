// End to end in a running manager on the test hardware with two devices and a scope: the window of
// device 0 opened from its menu item, a measurement started, 100 scripted frames acquired one by one by
// another thread (every 10th with a second cluster, every 25th without "Scope data"); the saved spectra
// and the coincidence image equal the texts the script implies, and device 1, acquiring meanwhile
// without a window, is not analysed.
#include <future>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include "pulse_app.h"

namespace {

using namespace pulse_test;

constexpr unsigned kSide = 256;

// The script: frame k has a cluster of two pixels (3 and 1, centroid on the left one) at a place that
// depends on k; every 10th frame a second one of three pixels in a row; a pulse of height 200 + k on a
// baseline of 100, except every 25th frame, which has no capture.
struct Frame {
    std::vector<uint16_t> counts = std::vector<uint16_t>(kSide * kSide, 0);
    std::vector<uint16_t> scope;
    unsigned x = 0, y = 0; // the two-pixel cluster
    bool second = false;
    bool withScope = true;
};

Frame scripted(unsigned k)
{
    Frame f;
    f.x = 10 + 20 * (k % 5);
    f.y = 20 + 30 * (k % 4);
    f.counts[f.y * kSide + f.x] = 3;
    f.counts[f.y * kSide + f.x + 1] = 1;
    f.second = k % 10 == 0;
    if (f.second)
        for (unsigned x = 200; x < 203; ++x)
            f.counts[200 * kSide + x] = 1;
    f.withScope = k % 25 != 0;
    if (f.withScope) {
        const unsigned height = 200 + k;
        f.scope.assign(kSamples, 100);
        f.scope[50] = static_cast<uint16_t>(100 + height / 2);
        f.scope[51] = static_cast<uint16_t>(100 + height);
        f.scope[52] = static_cast<uint16_t>(100 + height / 2);
    }
    return f;
}

std::string imageText(const std::map<std::pair<unsigned, unsigned>, unsigned>& hits)
{
    std::string text;
    for (unsigned y = 0; y < kSide; ++y) {
        for (unsigned x = 0; x < kSide; ++x) {
            const auto it = hits.find({x, y});
            text += (x ? " " : "") + std::to_string(it == hits.end() ? 0 : it->second);
        }
        text += "\n";
    }
    return text;
}

} // namespace

TEST(PulseScanApp, HundredScriptedFramesGiveTheExpectedSpectraAndCoincidences)
{
    PulseApp app;
    const _MgrFuncTable& t = app.t();
    QWidget* window = app.openWindow(0);
    ASSERT_NE(window, nullptr);
    auto* start = window->findChild<QPushButton*>(QStringLiteral("start"));
    auto* save = window->findChild<QPushButton*>(QStringLiteral("save"));
    auto* counters = window->findChild<QLabel*>(QStringLiteral("counters"));
    ASSERT_TRUE(start && save && counters);
    const std::pair<const char*, const char*> settings[] = {
        {"BaselineOffset", "0"}, {"ClusterThreshold", "1"}, {"MinClusterSize", "1"},
        {"MinRoundness", "0"},   {"EnhanceFactor", "2"},    {"OverlapLevel", "0"}};
    for (const auto& [key, value] : settings) {
        auto* edit = window->findChild<QLineEdit*>(QString::fromUtf8(key));
        ASSERT_NE(edit, nullptr) << key;
        edit->setText(QString::fromUtf8(value));
    }
    start->click();
    ASSERT_EQ(start->text(), QStringLiteral("Stop"));
    // The settings went to the device's file, named after its interface and chip board.
    _DevInfo info{};
    ASSERT_EQ(t.tvkCtrlGetDevInfo(0, &info), 0);
    const std::string settingsFile =
        app.dir() + "/configs/PulseScan_" + info.interfaceName + "_" + info.chipboardId + ".txt";
    EXPECT_EQ(settingsFile, app.dir() + "/configs/PulseScan_fake_F0.txt");
    const std::string settingsText = ombrel_test::readFile(settingsFile);
    EXPECT_EQ(settingsText.rfind("[Settings]\n", 0), 0u) << settingsText;
    EXPECT_NE(settingsText.find("\nClusterThreshold=1\n"), std::string::npos) << settingsText;

    // Device 0 acquires in another thread, as a plug-in's worker would; device 1 in between.
    std::vector<unsigned> spectrum(4096, 0);
    std::map<std::pair<unsigned, unsigned>, unsigned> coincidences;
    unsigned twoPixelClusters = 0, threePixelClusters = 0, pulses = 0, coincidenceCount = 0;
    const std::vector<uint16_t> pulse = scripted(1).scope;
    auto worker = std::async(std::launch::async, [&] {
        for (unsigned k = 0; k < 100; ++k) {
            const Frame f = scripted(k);
            app.queueFrame(0, f.counts, f.withScope ? &f.scope : nullptr);
            if (acquireOne(t, 0) != 0)
                return "acquisition " + std::to_string(k) + " of device 0 failed";
            if (k % 20 == 0) {
                app.queueFrame(1, f.counts, &pulse);
                if (acquireOne(t, 1) != 0)
                    return std::string("an acquisition of device 1 failed");
            }
        }
        return std::string();
    });
    for (unsigned k = 0; k < 100; ++k) {
        const Frame f = scripted(k);
        ++twoPixelClusters;
        threePixelClusters += f.second;
        if (f.withScope) {
            ++spectrum[200 + k];
            ++pulses;
        }
        if (f.withScope && !f.second) {
            ++coincidences[{f.x, f.y}];
            ++coincidenceCount;
        }
    }
    ASSERT_TRUE(processUntil([&] { return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    ASSERT_EQ(worker.get(), "");
    const QString clusters = QStringLiteral("Clusters: %1\n").arg(twoPixelClusters + threePixelClusters);
    ASSERT_TRUE(processUntil([&] { return counters->text().contains(clusters); })) << counters->text().toStdString();
    EXPECT_TRUE(counters->text().startsWith(QStringLiteral("Pulses: %1\n").arg(pulses)));
    EXPECT_TRUE(counters->text().endsWith(QStringLiteral("Coincidences: %1").arg(coincidenceCount)))
        << counters->text().toStdString();

    save->click();
    const std::string results = app.dir() + "/results/";
    EXPECT_EQ(ombrel_test::readFile(results + "PulseScan spectrum.txt"), seriesText(spectrum));
    EXPECT_EQ(ombrel_test::readFile(results + "Cluster size spectrum.txt"),
              seriesText({0, 0, twoPixelClusters, threePixelClusters}));
    EXPECT_EQ(ombrel_test::readFile(results + "Coincidence image.txt"), imageText(coincidences));

    // Device 1 acquired without its window: opened now, it shows nothing analysed.
    QWidget* other = app.openWindow(1);
    ASSERT_NE(other, nullptr);
    auto* otherCounters = other->findChild<QLabel*>(QStringLiteral("counters"));
    ASSERT_NE(otherCounters, nullptr);
    EXPECT_TRUE(otherCounters->text().contains(QStringLiteral("Clusters: 0\n"))) << otherCounters->text().toStdString();
}
