// End to end in a running manager on the test hardware with two devices and a scope: the window of
// device 0 opened from its menu item, a measurement started, 100 scripted frames acquired one by one by
// another thread (every 10th with a second cluster, every 25th without "Scope data"); the saved spectra
// and the coincidence image equal the texts the script implies, and device 1, acquiring meanwhile
// without a window, is not analysed.
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include "qt_test_support.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_mgr.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kSide = 256;
constexpr unsigned kSamples = 450;

// The manager, the device-control library and the test hardware stay loaded until the program ends:
// they keep process-wide objects that only a loaded module still reaches.
std::vector<plat::Module>& keptModules()
{
    static auto* modules = new std::vector<plat::Module>;
    return *modules;
}

template <class Fn>
Fn symbol(plat::Module& module, const char* name)
{
    void* p = module.symbol(name);
    if (!p)
        throw std::runtime_error(std::string("missing ") + name);
    return reinterpret_cast<Fn>(p);
}

using ombrel_test::processUntil;

// A scratch app folder with the real manager, PulseScan.so and the test hardware (two one-chip devices
// with the scope items).
class PulseApp {
public:
    PulseApp() : dir_(ombrel_test::scratchDir("pulsescan-app")), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        for (const char* file : {"libTvkManager.so", "libTvkCtrl.so"})
            fs::copy_file(fs::path(PULSE_APP_DIR) / file, dir_ + "/" + file);
        fs::create_directories(dir_ + "/configs");
        fs::copy_file(PULSE_FAKEHW_PATH, dir_ + "/hwlibs/fakehw.so");
        ombrel_test::writeFile(dir_ + "/hwlibs/fakehw.ini",
                               "[Fake]\nDevices=2\nScope=1\n[Device0]\nChips=1\n[Device1]\nChips=1\n");
        fs::copy_file(PULSE_PLUGIN_PATH, dir_ + "/PulseScan.so");
        fs::copy_file(PULSE_TABLE_PLUGIN, dir_ + "/plugins/pulsescan_table.so");
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini", "[Plugins]\nPulseScan.so\nplugins/pulsescan_table.so\n");

        fs::current_path(dir_); // the log lives in the app folder
        if (!manager_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(manager_.error());
        symbol<int (*)(void*, const void*)>(manager_, "mgrSetUiHooks")(nullptr, nullptr);
        if (symbol<int (*)()>(manager_, "mgrInitManager")() != 0)
            throw std::runtime_error("the manager did not start");
        plat::Module tablePlugin;
        if (!tablePlugin.open(dir_ + "/plugins/pulsescan_table.so"))
            throw std::runtime_error(tablePlugin.error());
        table_ = symbol<const _MgrFuncTable* (*)()>(tablePlugin, "pulsescanTestTable")();
        keptModules().push_back(std::move(tablePlugin));
        if (!table_)
            throw std::runtime_error("the table plug-in was not loaded");
        if (!fakehw_.open(dir_ + "/hwlibs/fakehw.so"))
            throw std::runtime_error(fakehw_.error());
        plat::Module plugin;
        if (!plugin.open(dir_ + "/PulseScan.so"))
            throw std::runtime_error(plugin.error());
        symbol<void (*)(const char*)>(plugin, "pulsescanSetSaveFolder")((dir_ + "/results").c_str());
        keptModules().push_back(std::move(plugin));
        fs::create_directories(dir_ + "/results");
    }

    ~PulseApp()
    {
        QApplication::processEvents();
        symbol<int (*)()>(manager_, "mgrExitManager")();
        symbol<int (*)()>(manager_, "mgrUnloadManager")();
        QApplication::processEvents();
        keptModules().push_back(std::move(fakehw_));
        keptModules().push_back(std::move(manager_));
        fs::current_path(oldCwd_);
    }

    const _MgrFuncTable& t() const { return *table_; }
    const std::string& dir() const { return dir_; }

    // Scripts the next read-out of a device; scope null: no capture.
    void queueFrame(int devId, const std::vector<uint16_t>& counts, const std::vector<uint16_t>* scope)
    {
        const int rc = symbol<int (*)(int, const uint16_t*, uint32_t, const uint16_t*, uint32_t)>(
            fakehw_, "fakeHwQueueFrame")(devId, counts.data(), static_cast<uint32_t>(counts.size()),
                                         scope ? scope->data() : nullptr, scope ? kSamples : 0);
        if (rc != 0)
            throw std::runtime_error("fakeHwQueueFrame: " + std::to_string(rc));
    }

    // Opens the device's window from its menu item "Back side pulse".
    QWidget* openWindow(int devId)
    {
        char path[MGR_MENU_NAME_SIZE] = {};
        EXPECT_EQ(t().mgrGetTvkMenuPath(devId, path), 0);
        char name[MGR_MENU_NAME_SIZE] = {};
        int id = 0, item = -1;
        for (int rc = t().mgrGetFirstMenuItem(&id, name); rc == 0; rc = t().mgrGetNextMenuItem(&id, name))
            if (std::string(name).find(path) != std::string::npos &&
                std::string(name).find("Back side pulse") != std::string::npos)
                item = id;
        EXPECT_GT(item, 0) << "no menu item \"Back side pulse\" for device " << devId;
        EXPECT_EQ(t().mgrCallMenuItemByID(item), 0);
        const QString prefix = QStringLiteral("Back side pulse %1 (").arg(devId);
        QWidget* window = nullptr;
        processUntil([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == QLatin1String("PulseScanDlg") && w->isVisible() &&
                    w->windowTitle().startsWith(prefix))
                    window = w;
            return window != nullptr;
        });
        return window;
    }

private:
    std::string dir_;
    fs::path oldCwd_;
    plat::Module manager_;
    plat::Module fakehw_;
    const _MgrFuncTable* table_ = nullptr;
};

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

// The series text of counts: each value and " \t", then "\n".
std::string seriesText(const std::vector<unsigned>& counts)
{
    std::string text;
    for (unsigned c : counts)
        text += std::to_string(c) + " \t";
    return text + "\n";
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

int acquireOne(const _MgrFuncTable& t, int devId)
{
    return t.tvkCtrlPerformFrameAcq(static_cast<unsigned>(devId), 1, 0.001, 0, nullptr);
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
