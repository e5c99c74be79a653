// The multi-device plug-in skeleton: one tool window per device, each with its own settings file and
// remembered placement, and a menu item in the device's sub-menu.
//
// A plug-in writes its dialog class TDlg (derived from CPluginDlg, constructed with the device id alone,
// with `static constexpr const char* kToolName` = the menu item text, the caption's first part and the
// ini section names) and its per-device data class T (derived from MultDataBaseWnd<TDlg>, constructed
// with the device id), then keeps one global MultDataPluginMgr<T> per tool and calls its init from
// InitTvkPlugin (plugin_entry.h).
//
// Threads: the windows, the device map and every window operation live on the GUI thread. The manager's
// Start and Exit arrive there; "TvkDevChanged", "TvkDevNew" and menu calls from other threads are queued
// to it in order and not awaited; only showWindow waits (plugin_window.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include <QObject>

#include "mult_data.h"
#include "plugin_table.h"
#include "plugin_window.h"

// The window-owning part of a device's data object, without the dialog type.
class MultDataWndCore : public MultDataBase, public PluginWindowHolder {
public:
    MultDataWndCore(int devId, const char* toolName, MenuItemCallback menuCallback);
    ~MultDataWndCore() override;

    // Opens the window (SW_SHOWNORMAL) when the settings file's "<tool>" "Autostart" is non-zero.
    void autostart();
    // From now on every close destroys the window; closes it now (placement written).
    void prepareExit();
    // The device was reconnected or replaced: description, settings file and caption refreshed, then an
    // existing window is told (CPluginDlg::deviceChanged), which closes it into the old file and reopens it
    // from the new one. The caller then makes saveIniFile follow loadIniFile.
    void onDevChanged();
    // Registers the device's menu item "<tool>" (user data: the device id); the manager's result.
    int addMenuItem();
    // Rebuilds the caption; an existing window shows it.
    void setTitle();

    int menuItemId = 0;
    bool exiting = false;     // set by prepareExit
    bool hideOnClose = false; // while set, a close that is not forced only hides the window (GUI thread)

protected:
    std::string placementLoadFile() const override { return loadIniFile; }
    std::string placementSaveFile() const override { return saveIniFile; }
    bool keepOnClose() const override { return hideOnClose && !exiting; }
    int windowDevice() const override { return devId; }

private:
    MenuItemCallback menuCallback_;
};

template <class TDlg>
class MultDataBaseWnd : public MultDataWndCore {
public:
    explicit MultDataBaseWnd(int devId) : MultDataWndCore(devId, TDlg::kToolName, menuCallback) {}

    // The tool window while it exists (GUI thread, or under lock).
    TDlg* dlg() const { return static_cast<TDlg*>(window()); }

    // The menu callback of this tool; set by its MultDataPluginMgr before any data object is made.
    static inline MenuItemCallback menuCallback = nullptr;

protected:
    CPluginDlg* createDialog() override { return new TDlg(devId); }
};

// Common part of the per-tool manager objects: the object that queued calls are delivered through.
class PluginCallContext {
public:
    PluginCallContext();
    ~PluginCallContext();
    // Made on the GUI thread when the plug-in starts; calls queued to it die with it.
    QObject* context();

private:
    std::unique_ptr<QObject> context_;
};

template <class T>
class MultDataPluginMgr {
public:
    MultDataPluginMgr() { instance_ = this; }
    // Frees the map's nodes only; exitAll deletes the data objects.
    virtual ~MultDataPluginMgr()
    {
        if (instance_ == this)
            instance_ = nullptr;
    }
    MultDataPluginMgr(const MultDataPluginMgr&) = delete;
    MultDataPluginMgr& operator=(const MultDataPluginMgr&) = delete;

    // Keeps the table, subscribes Start, Exit, "TvkDevChanged" and "TvkDevNew" (in this order), makes one
    // data object per present device and registers the message handler. Returns 0; registration results
    // are ignored.
    int init(const _MgrFuncTable* table)
    {
        setPluginTable(table);
        calls_.context();
        T::menuCallback = &onMenuItem;
        table->mgrRegisterCallback("tvkmgr", "Start", &onStart);
        table->mgrRegisterCallback("tvkmgr", "Exit", &onExit);
        table->mgrRegisterCallback("tvkctrl", "TvkDevChanged", &onTvkDevChanged);
        table->mgrRegisterCallback("tvkctrl", "TvkDevNew", &onTvkDevNew);
        exited_ = false;
        unsigned devId = 0;
        int count = 0;
        for (int rc = table->tvkCtrlGetFirstTvk(&devId, &count); rc == 0; rc = table->tvkCtrlGetNextTvk(&devId))
            devices[static_cast<int>(devId)] = new T(static_cast<int>(devId));
        table->mgrAddMsgHandler(&pluginMsgHandler);
        return 0;
    }

    // The data object of a device, or null (any thread: a device found later is added meanwhile).
    T* find(int devId) const
    {
        std::lock_guard guard(devicesLock_);
        const auto it = devices.find(devId);
        return it == devices.end() ? nullptr : it->second;
    }

    // Autostart of every data object, ascending device id.
    void startAll()
    {
        for (auto& [id, data] : devices)
            data->autostart();
    }

    // Every window closed with its placement saved, every data object deleted, the map emptied.
    void exitAll()
    {
        for (auto& [id, data] : devices) {
            data->prepareExit();
            delete data;
        }
        {
            std::lock_guard guard(devicesLock_);
            devices.clear();
        }
        exited_ = true;
        PluginWindowHolder::deletePendingWindows();
    }

    // A device found while the program runs gets its data object, and with it its menu item, as the
    // devices present at start do; a device already known, or one found after the exit, gets nothing.
    void addDevice(int devId)
    {
        if (exited_ || find(devId))
            return;
        T* data = new T(devId); // registers the menu item
        std::lock_guard guard(devicesLock_);
        devices[devId] = data;
    }

    // Ascending by device id; written by init, addDevice and exitAll only (GUI thread), an insertion or the
    // final clearing under devicesLock_, which find takes.
    std::map<int, T*> devices;

private:
    static void onStart(intptr_t)
    {
        if (MultDataPluginMgr* m = instance_)
            runOnGuiThread(m->calls_.context(), [] {
                if (instance_)
                    instance_->startAll();
            });
    }
    static void onExit(intptr_t)
    {
        MultDataPluginMgr* m = instance_;
        if (!m)
            return;
        if (isGuiThread())
            m->exitAll();
        else // the manager unloads the plug-in after Exit: its windows must be gone first
            QMetaObject::invokeMethod(m->calls_.context(), [m] { m->exitAll(); }, Qt::BlockingQueuedConnection);
    }
    static void onTvkDevChanged(intptr_t devId)
    {
        if (MultDataPluginMgr* m = instance_)
            runOnGuiThread(m->calls_.context(), [devId] {
                T* data = instance_ ? instance_->find(static_cast<int>(devId)) : nullptr;
                if (!data)
                    return;
                data->onDevChanged();
                data->saveIniFile = data->loadIniFile;
            });
    }
    static void onTvkDevNew(intptr_t devId)
    {
        if (MultDataPluginMgr* m = instance_)
            runOnGuiThread(m->calls_.context(), [devId] {
                if (instance_)
                    instance_->addDevice(static_cast<int>(devId));
            });
    }
    static void onMenuItem(void* userData)
    {
        const int devId = static_cast<int>(reinterpret_cast<intptr_t>(userData));
        if (MultDataPluginMgr* m = instance_)
            runOnGuiThread(m->calls_.context(), [devId] {
                if (T* data = instance_ ? instance_->find(devId) : nullptr)
                    data->showWindow(SW_SHOWNORMAL);
            });
    }
    // Qt gives the dialogs their keyboard handling itself: nothing is consumed here.
    static int pluginMsgHandler(TvkMsg*) { return 0; }

    static inline MultDataPluginMgr* instance_ = nullptr;
    PluginCallContext calls_;
    bool exited_ = false; // set by exitAll: the tool takes no device any more (GUI thread)
    // Guards the map's nodes against a find on another thread; nothing is called while it is held.
    mutable std::mutex devicesLock_;
};
