// The single-window plug-in skeleton: one tool window for the whole application, one settings file
// "<configs>/<module>.ini", one menu item under "Utilities".
//
// A plug-in writes its dialog class TDlg (derived from CPluginDlg, constructed without arguments, with
// `static constexpr const char* kToolName` = the tool title: menu item text and ini section names) and
// derives its manager class from SimplePluginMgr<TDlg> or, when it needs the list of devices, from
// SingDataPluginMgr<TDlg>; it keeps one global instance and calls its init from InitTvkPlugin
// (plugin_entry.h). Its Start and Exit handlers are the virtual onStart and onExit.
//
// Threads as in the multi-device skeleton: the window lives on the GUI thread; the plug-in's other
// threads reach it through postToWindow, which drops what arrives while the window is being closed.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "mult_data_wnd.h"
#include "plugin_table.h"
#include "plugin_window.h"

class SimplePluginCore : public PluginWindowHolder {
public:
    explicit SimplePluginCore(const char* toolTitle);
    ~SimplePluginCore() override;

    // "<tool>" "Autostart" of the settings file is non-zero.
    bool autostartSet() const;
    // Opens the window when autostartSet (for the plug-in's Start handler).
    void autostart();

    const void* module;     // an address inside the plug-in's module
    std::string pluginName; // module file name without folder and extension
    std::string iniFile;    // configuration folder + pluginName + ".ini"
    int menuItemId = 0;

protected:
    // Keeps the table, finds the settings file, subscribes the handlers, registers the message handler
    // and the menu item "Utilities|<tool>". 0; registration results are ignored.
    int initCore(const _MgrFuncTable* table, EventCallback onStart, EventCallback onExit, MenuItemCallback onMenu,
                 TvkMsgHandler msgHandler);

    std::string placementLoadFile() const override { return iniFile; }
    std::string placementSaveFile() const override { return iniFile; }

    PluginCallContext calls_;
};

template <class TDlg>
class SimplePluginMgr : public SimplePluginCore {
public:
    SimplePluginMgr() : SimplePluginCore(TDlg::kToolName) { instance_ = this; }
    ~SimplePluginMgr() override
    {
        if (instance_ == this)
            instance_ = nullptr;
    }

    virtual int init(const _MgrFuncTable* table)
    {
        return initCore(table, &startTrampoline, &exitTrampoline, &menuTrampoline, &pluginMsgHandler);
    }

    // The tool window while it exists (GUI thread, or under lock).
    TDlg* dlg() const { return static_cast<TDlg*>(window()); }

    // The plug-in's handlers of "tvkmgr" "Start" and "Exit", on the GUI thread. Start: work that needs
    // every plug-in loaded (binding the preview functions), then autostart() when wanted. Exit: the window
    // is closed with its placement saved.
    virtual void onStart() {}
    virtual void onExit() { closeWindow(true); }

protected:
    CPluginDlg* createDialog() override { return new TDlg(); }

private:
    static void startTrampoline(intptr_t)
    {
        if (SimplePluginMgr* m = instance_)
            runOnGuiThread(m->calls_.context(), [] {
                if (instance_)
                    instance_->onStart();
            });
    }
    static void exitTrampoline(intptr_t)
    {
        SimplePluginMgr* m = instance_;
        if (!m)
            return;
        const auto exit = [m] {
            m->onExit();
            PluginWindowHolder::deletePendingWindows();
        };
        if (isGuiThread())
            exit();
        else // the manager unloads the plug-in after Exit: its window must be gone first
            QMetaObject::invokeMethod(m->calls_.context(), exit, Qt::BlockingQueuedConnection);
    }
    static void menuTrampoline(void*)
    {
        if (SimplePluginMgr* m = instance_)
            runOnGuiThread(m->calls_.context(), [] {
                if (instance_)
                    instance_->showWindow(SW_SHOWNORMAL);
            });
    }
    static int pluginMsgHandler(TvkMsg*) { return 0; }

    static inline SimplePluginMgr* instance_ = nullptr;
};

template <class TDlg>
class SingDataPluginMgr : public SimplePluginMgr<TDlg> {
public:
    ~SingDataPluginMgr() override { freeDevices(); }

    // SimplePluginMgr::init, then one device record per device present now.
    int init(const _MgrFuncTable* table) override
    {
        SimplePluginMgr<TDlg>::init(table);
        unsigned devId = 0;
        int count = 0;
        for (int rc = table->tvkCtrlGetFirstTvk(&devId, &count); rc == 0; rc = table->tvkCtrlGetNextTvk(&devId)) {
            auto* dev = new TvkDev(table, static_cast<int>(devId));
            dev->updateDevInfo();
            devices[static_cast<int>(devId)] = dev;
        }
        return 0;
    }

    // The Exit handler's body: the window closed (placement saved), the device records freed.
    void exit()
    {
        this->closeWindow(true);
        freeDevices();
    }
    void onExit() override { exit(); }

    // One record per device present at start, ascending by id (GUI thread).
    std::map<int, TvkDev*> devices;

private:
    void freeDevices()
    {
        for (auto& [id, dev] : devices)
            delete dev;
        devices.clear();
    }
};
