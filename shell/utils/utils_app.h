// The utilities library's own state: the manager's internal table, the ini path and the windows it owns
// (tray and splash, log window, managed-items window). The windows live on the GUI thread; work that
// arrives on other threads is queued there and never waited for.
#pragma once

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tvk_mgr.h"

class CTrayDlg;
class CTvkLogDlg;
class CItemListingDlg;

// Reads a filter chain's description through the manager's chain registry (members and chain text
// copied under its lock): 0, or the registry's error code. mgrGetFilterChainInfo has this form.
using ChainInfoFunc = int (*)(int chainId, _FilterChainDesc* out);

// The text of a fixed-size field of a record from another library: up to its first zero, never past the
// field.
inline std::string boundedText(const char* field, size_t size)
{
    return field ? std::string(field, ::strnlen(field, size)) : std::string();
}

template <size_t N>
std::string boundedText(const char (&field)[N])
{
    return boundedText(field, N);
}

// Whether the calling thread is the GUI thread of a running application.
bool onGuiThread();
// Runs work now on the GUI thread, or queues it there from another thread; false (work dropped) when
// there is no application.
bool runOnGuiThread(std::function<void()> work);

class CTvkMgrUtilsApp {
public:
    static CTvkMgrUtilsApp& instance();

    // Library start, on the GUI thread once the application exists: the tray window (with the splash
    // unless it is disabled) and the hidden log window. false when a window cannot be made.
    bool InitInstance();
    // Library end: the managed-items window, the message windows, the log window and the tray window
    // (which writes the splash flag). Safe to call more than once.
    void ExitInstance();
    bool started() const { return tray_ != nullptr; }

    void setIntFuncTable(const _IntFuncTable* table) { table_.store(table); }
    const _IntFuncTable* intFuncTable() const { return table_.load(); }
    void setChainInfoFunc(ChainInfoFunc func) { chainInfo_.store(func); }
    ChainInfoFunc chainInfoFunc() const { return chainInfo_.load(); }

    // "tvkmanager.ini" beside the library (the manager's ini file); tests point it elsewhere.
    const std::string& iniPath() const { return iniPath_; }
    void setIniPath(std::string path) { iniPath_ = std::move(path); }

    CTrayDlg* tray() const { return tray_.get(); }
    CTvkLogDlg* logDlg() const { return log_.get(); }
    CItemListingDlg* itemListing() const { return itemListing_; }

    // Shows the managed-items window: restores and focuses the open one, or builds it afresh.
    int showManagedItems();
    // Called by the managed-items window when it goes.
    void itemListingClosed(CItemListingDlg* dlg);

    // The tray's Exit: runs at once, or, while the manager is starting, as soon as it has started (the
    // shut-down must not overlap the start-up, which may be waiting in a box of its own). GUI thread.
    void requestExit();
    // Set by the loader from its start until mgrInitManager has returned (inside the event loop);
    // clearing it runs an Exit that was asked for meanwhile.
    void setManagerStarting(bool starting);
    bool exitRequested() const { return exitPending_; }

    // Tray-menu changes, in the order they were asked for from any thread; each is posted to the GUI
    // thread (never run inside the call) and runs there once the tray window exists.
    void queueMenuOp(std::function<void(CTrayDlg&)> op);
    void runMenuOps();

private:
    CTvkMgrUtilsApp();
    ~CTvkMgrUtilsApp();

    std::atomic<const _IntFuncTable*> table_{nullptr};
    std::atomic<ChainInfoFunc> chainInfo_{nullptr};
    std::string iniPath_;
    std::unique_ptr<CTrayDlg> tray_;
    std::unique_ptr<CTvkLogDlg> log_;
    CItemListingDlg* itemListing_ = nullptr; // owns itself; deleted when closed
    bool managerStarting_ = false;           // GUI thread only
    bool exitPending_ = false;               // GUI thread only

    // Guards menuOps_ and menuDrainQueued_; nothing else is called while it is held.
    std::mutex menuMutex_;
    std::deque<std::function<void(CTrayDlg&)>> menuOps_;
    bool menuDrainQueued_ = false;
};
