// The plug-in in a running manager: a scratch app folder with copies of the manager, the device-control
// library, PulseScan.so, a plug-in that hands out the manager's function table, and a hardware library.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include "qt_test_support.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_mgr.h"

namespace pulse_test {

namespace fs = std::filesystem;
constexpr unsigned kSamples = 450;

// The manager, the device-control library and the test hardware stay loaded until the program ends:
// they keep process-wide objects that only a loaded module still reaches.
inline std::vector<plat::Module>& keptModules()
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

// The hardware library of the app folder: the test hardware (two one-chip devices with the scope items),
// or the USB library on one simulated box.
enum class Hardware { Fake, SimulatedUsbBox };

// A scratch app folder with the real manager, PulseScan.so and the hardware library.
class PulseApp {
public:
    explicit PulseApp(Hardware hardware = Hardware::Fake)
        : dir_(ombrel_test::scratchDir("pulsescan-app")), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        for (const char* file : {"libTvkManager.so", "libTvkCtrl.so"})
            fs::copy_file(fs::path(PULSE_APP_DIR) / file, dir_ + "/" + file);
        if (hardware == Hardware::Fake) {
            fs::create_directories(dir_ + "/configs");
            fs::copy_file(PULSE_FAKEHW_PATH, dir_ + "/hwlibs/fakehw.so");
            ombrel_test::writeFile(dir_ + "/hwlibs/fakehw.ini",
                                   "[Fake]\nDevices=2\nScope=1\n[Device0]\nChips=1\n[Device1]\nChips=1\n");
        } else {
            fs::copy(fs::path(PULSE_APP_DIR) / "configs", dir_ + "/configs", fs::copy_options::recursive);
            fs::copy_file(PULSE_USB_PATH, dir_ + "/hwlibs/tvkHwUSB.so");
            ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwUSB.ini", "[Link]\nBackend = sim\n[SimBox]\nBoxes = 1\n");
        }
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
        if (hardware == Hardware::Fake && !fakehw_.open(dir_ + "/hwlibs/fakehw.so"))
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

// The series text of counts: each value and " \t", then "\n".
inline std::string seriesText(const std::vector<unsigned>& counts)
{
    std::string text;
    for (unsigned c : counts)
        text += std::to_string(c) + " \t";
    return text + "\n";
}

inline int acquireOne(const _MgrFuncTable& t, int devId)
{
    return t.tvkCtrlPerformFrameAcq(static_cast<unsigned>(devId), 1, 0.001, 0, nullptr);
}

} // namespace pulse_test
