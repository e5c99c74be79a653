// A scratch app folder with the real manager, DacDeck.so and either the simulated detector or the test
// hardware library (chips and type as asked), driven from the test's GUI thread; optionally with the
// loader's utilities library, so that the tray menu is the one the loader shows. The manager's table comes
// from a small plug-in that only keeps it.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QApplication>
#include <QWidget>

#include "qt_test_support.h"
#include "manager/tvk_manager.h"
#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_mgr.h"

namespace decktest {

namespace fs = std::filesystem;

using ombrel_test::processUntil;

struct AppOptions {
    bool simulated = true; // false: the test hardware library
    int chips = 1, type = 1;
    std::string deckIni;     // configs/DacDeck.ini when not empty
    bool loaderMenu = false; // the utilities library's tray menu

    static AppOptions simulatedDetector(std::string deckIni = {}, bool loaderMenu = false)
    {
        AppOptions o;
        o.deckIni = std::move(deckIni);
        o.loaderMenu = loaderMenu;
        return o;
    }
    static AppOptions testHardware(int chips, int type, std::string deckIni = {})
    {
        AppOptions o;
        o.simulated = false;
        o.chips = chips;
        o.type = type;
        o.deckIni = std::move(deckIni);
        return o;
    }
};

class DeckApp {
public:
    DeckApp(const std::string& name, const AppOptions& options)
        : options_(options), dir_(ombrel_test::scratchDir("dacdeck-app-" + name)), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        for (const char* file : {"libTvkManager.so", "libTvkCtrl.so", "libTvkMgrUtils.so"})
            fs::copy_file(fs::path(DECK_APP_DIR) / file, dir_ + "/" + file);
        if (fs::exists(DECK_APP_DIR "/configs"))
            fs::copy(DECK_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::create_directories(dir_ + "/configs");
        if (options.simulated) {
            fs::copy_file(DECK_APP_DIR "/hwlibs/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
            fs::copy_file(DECK_APP_DIR "/hwlibs/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
            ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=1\nUnique=0\n");
        } else {
            fs::copy_file(DECK_FAKEHW_PATH, dir_ + "/hwlibs/fakehw.so");
            ombrel_test::writeFile(dir_ + "/hwlibs/fakehw.ini",
                                   "[Fake]\nDevices=1\n[Device0]\nChips=" + std::to_string(options.chips) +
                                       "\nType=" + std::to_string(options.type) + "\n");
        }
        if (!options.deckIni.empty())
            ombrel_test::writeFile(dir_ + "/configs/DacDeck.ini", options.deckIni);
        fs::copy_file(DECK_PLUGIN_PATH, dir_ + "/DacDeck.so");
        fs::copy_file(DECK_TABLE_PLUGIN, dir_ + "/plugins/dacdeck_table.so");
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini", "[Plugins]\nDacDeck.so\nplugins/dacdeck_table.so\n");

        if (ctrlFolder().empty())
            ctrlFolder() = dir_;
        fs::current_path(dir_); // the log lives in the app folder
        if (!manager_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(manager_.error());
        if (options.loaderMenu) {
            if (!utils_.open(dir_ + "/libTvkMgrUtils.so"))
                throw std::runtime_error(utils_.error());
            if (call<int (*)()>(utils_, "utilsStart")() != 0)
                throw std::runtime_error("the utilities library did not start");
            entries_ = {sizeof(MgrUtilsEntries), call<int (*)(TvkMsg*)>(utils_, "utilsMsgHandler"),
                        call<int (*)(const _IntFuncTable*)>(utils_, "setIntFuncTable"),
                        call<int (*)(int)>(utils_, "logShowWindow"), call<int (*)()>(utils_, "managedItemsShowWindow")};
            call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>(manager_, "mgrSetUiHooks")(
                call<MgrUiHooks* (*)()>(utils_, "utilsUiHooks")(), &entries_);
        } else {
            call<int (*)(void*, const void*)>(manager_, "mgrSetUiHooks")(nullptr, nullptr);
        }
        if (call<int (*)()>(manager_, "mgrInitManager")() != 0)
            throw std::runtime_error("the manager did not start");
        plat::Module tablePlugin;
        if (!tablePlugin.open(dir_ + "/plugins/dacdeck_table.so"))
            throw std::runtime_error(tablePlugin.error());
        table_ = call<const _MgrFuncTable* (*)()>(tablePlugin, "dacdeckTestTable")();
        if (!table_)
            throw std::runtime_error("the table plug-in was not loaded");
        ombrel_test::keepLoaded(std::move(tablePlugin));
        if (!options.simulated) {
            if (!fakehw_.open(ctrlFolder() + "/hwlibs/fakehw.so"))
                throw std::runtime_error(fakehw_.error());
        }
    }

    ~DeckApp()
    {
        QApplication::processEvents();
        call<int (*)()>(manager_, "mgrExitManager")();
        call<int (*)()>(manager_, "mgrUnloadManager")();
        if (options_.loaderMenu) {
            call<int (*)(void*, const void*)>(manager_, "mgrSetUiHooks")(nullptr, nullptr);
            call<void (*)()>(utils_, "utilsEnd")();
            ombrel_test::keepLoaded(std::move(utils_));
        }
        QApplication::processEvents();
        ombrel_test::keepLoaded(std::move(fakehw_));
        ombrel_test::keepLoaded(std::move(manager_));
        fs::current_path(oldCwd_);
    }
    DeckApp(const DeckApp&) = delete;
    DeckApp& operator=(const DeckApp&) = delete;

    const _MgrFuncTable& t() const { return *table_; }
    const std::string& dir() const { return dir_; }
    std::string log() const { return ombrel_test::readFile(dir_ + "/log.txt"); }

    // The test hardware's injected failures and counters (fakehw.h).
    int fakeSet(const char* key, int value)
    {
        return call<int (*)(int, const char*, int)>(fakehw_, "fakeHwSet")(0, key, value);
    }
    int64_t fakeGet(const char* key)
    {
        int64_t value = -1;
        call<int (*)(int, const char*, int64_t*)>(fakehw_, "fakeHwGet")(0, key, &value);
        return value;
    }

    // The DAC values of the test hardware's last hwSetTvkDACs.
    std::vector<uint16_t> fakeLastDacs()
    {
        std::vector<uint16_t> values(4096);
        int dacCount = 0, senseOn = 0, extDacOn = 0;
        call<int (*)(int, uint16_t*, int, int*, int*, int*, int*, int)>(fakehw_, "fakeHwLastDacs")(
            0, values.data(), static_cast<int>(values.size()), &dacCount, &senseOn, &extDacOn, nullptr, 0);
        return values;
    }

    // Id of the manager's event source/name, or -1.
    int eventId(const char* source, const char* name) const
    {
        _EventDesc desc{};
        int id = 0;
        for (int rc = t().mgrGetRegFirstCBEvent(&id, &desc); rc == 0; rc = t().mgrGetRegNextCBEvent(&id, &desc))
            if (std::string(desc.plugin) == source && std::string(desc.name) == name)
                return id;
        return -1;
    }
    // Raises a device event of the device-control library as the manager does (in the calling thread).
    void fire(const char* name, int devId = 0) const { t().mgrSetCBEvent(eventId("tvkctrl", name), devId); }

    // Id of the menu item "DAC Control Panel" of a device, or -1.
    int menuItem(int devId) const
    {
        char path[MGR_MENU_NAME_SIZE] = {};
        if (t().mgrGetTvkMenuPath(devId, path) != 0)
            return -1;
        char name[MGR_MENU_NAME_SIZE] = {};
        int id = 0;
        for (int rc = t().mgrGetFirstMenuItem(&id, name); rc == 0; rc = t().mgrGetNextMenuItem(&id, name)) {
            const std::string n = name;
            if (n.find(path) != std::string::npos && n.find("DAC Control Panel") != std::string::npos)
                return id;
        }
        return -1;
    }

    // The panel of a device while it exists, or null.
    static QWidget* panel(int devId = 0)
    {
        const QString prefix = QStringLiteral("DAC Control Panel %1 (").arg(devId);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("DacDeckDlg") && w->isVisible() && w->windowTitle().startsWith(prefix))
                return w;
        return nullptr;
    }

    // The device's description and its caption text "DAC Control Panel <dev> (<interface> <chip board>)".
    _DevInfo info(int devId = 0) const
    {
        _DevInfo i{};
        t().tvkCtrlGetDevInfo(static_cast<unsigned>(devId), &i);
        return i;
    }
    std::string title(int devId = 0) const
    {
        const _DevInfo i = info(devId);
        return "DAC Control Panel " + std::to_string(devId) + " (" + (i.interfaceName ? i.interfaceName : "") + " " +
               i.chipboardId + ")";
    }

private:
    // The manager needs the device-control library by name, so every manager of the process runs on the
    // copy loaded first, with the hardware libraries of that copy's folder: a process tests one kind of
    // device.
    static std::string& ctrlFolder()
    {
        static std::string folder;
        return folder;
    }

    template <class Fn>
    static Fn call(plat::Module& module, const char* name)
    {
        void* p = module.symbol(name);
        if (!p)
            throw std::runtime_error(std::string("missing ") + name);
        return reinterpret_cast<Fn>(p);
    }

    AppOptions options_;
    std::string dir_;
    fs::path oldCwd_;
    plat::Module manager_;
    plat::Module utils_;
    plat::Module fakehw_;
    MgrUtilsEntries entries_{};
    const _MgrFuncTable* table_ = nullptr;
};

} // namespace decktest
