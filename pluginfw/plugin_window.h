// What both skeletons do with their one tool window: create it on demand, show it, restore and save its
// placement, hide or destroy it on close, and let other threads post to it. The window lives on the GUI
// thread; other threads reach it only through postToWindow (and showWindow, which then waits).
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include <QPoint>
#include <QPointer>

#include "dev_lock.h"
#include "mult_data.h"
#include "plugin_dlg.h"

class QEvent;
class QObject;
class QWidget;

// True on the thread of the Qt application's objects.
bool isGuiThread();

// Runs fn now on the GUI thread; from another thread queues it there (in order, not awaited) with
// context as its receiver, so that nothing queued runs once context is gone.
void runOnGuiThread(QObject* context, std::function<void()> fn);

// A top-level window's placement: its show state and the outer rectangle of its normal state.
WindowPlacement currentPlacement(const QWidget* w);
// Puts w at placement (its outer normal rectangle at least w's minimum size and kept on a screen) and, when
// w is visible, in the placement's minimised or maximised state; returns the placement as fitted.
WindowPlacement placeWindow(QWidget* w, const WindowPlacement& placement);
// Moves a shown normal window whose outer rectangle leaves the screens back onto the nearest one.
void keepWindowOnScreen(QWidget* w);
// w is on the screen in its normal state (shown, neither minimised nor maximised).
bool isShownNormal(const QWidget* w);

// Puts the shown window w on top of the other windows and gives it the focus.
void bringToFront(QWidget* w);

// Windows of one device carry its index in this property; its control window also carries
// kControlWindowProperty (true).
inline constexpr const char* kDeviceProperty = "tvkDevice";
inline constexpr const char* kControlWindowProperty = "tvkDeviceControl";
// Where a new window of device dev that has no stored placement goes: the outer top-left corner one cascade
// step below and right of the device's control window (else of another open window of the device), moved
// on by further steps while an open window of the device already has its corner there. False (the window
// system places it) when no window of the device is open.
bool cascadePosition(const QWidget* newWindow, int dev, QPoint& topLeft);

class PluginWindowHolder : public PluginWindowOwner {
public:
    explicit PluginWindowHolder(std::string toolName);
    virtual ~PluginWindowHolder();
    PluginWindowHolder(const PluginWindowHolder&) = delete;
    PluginWindowHolder& operator=(const PluginWindowHolder&) = delete;

    // Creates the window when there is none ("Memory allocation error." box and -1 when the object cannot
    // be made; -1 when its Create fails, the object deleted, so that the next call tries again), sets its
    // caption, shows it in nCmdShow (a new window in the show state of its placement) and gives it the
    // focus. Another thread waits for the GUI thread; it must not hold this holder's lock (-1 if it does).
    int showWindow(int nCmdShow) override;
    // When a window exists: destroys it (placement written to the save file) or, when the skeleton keeps
    // windows on close and force is not set, only hides it.
    void closeWindow(bool force) override;
    void loadWindowPos(PlacementForm form = PlacementForm::MoveOnly) override;

    // Placement from and to a file's "Position <tool>" section; only while a window exists.
    void readWindowPos(const std::string& iniFile, PlacementForm form = PlacementForm::MoveOnly);
    void writeWindowPos(const std::string& iniFile);

    // Posts event to the window from any thread: nothing (the event deleted, false) while the window is
    // being closed or does not exist.
    bool postToWindow(QEvent* event);

    // The window while it exists (created, possibly hidden); GUI thread, or under lock.
    CPluginDlg* window() const { return dlg_; }
    bool hasWindow() const { return dlg_ != nullptr; }

    const std::string& toolName() const { return toolName_; }
    std::string title() const;
    void setWindowTitle(const std::string& title);

    // Guards the window pointer, the title and the placement operations; re-entrant. Held by every window
    // operation for its whole run, on the GUI thread; a plug-in's thread may hold it to look at the window.
    mutable plat::OwnedRecursiveMutex lock;

    // Deletes every closed window whose deferred deletion has not run yet (before the plug-in goes).
    static void deletePendingWindows();

protected:
    // A new dialog object of the tool (null or a throw of std::bad_alloc: no memory).
    virtual CPluginDlg* createDialog() = 0;
    // Files the placement is read from and written to.
    virtual std::string placementLoadFile() const = 0;
    virtual std::string placementSaveFile() const = 0;
    // Whether a close that is not forced only hides the window.
    virtual bool keepOnClose() const { return false; }
    // The device whose tool the window is; -1 for a tool of the whole application.
    virtual int windowDevice() const { return -1; }

private:
    int showOnGuiThread(int nCmdShow);
    void destroyWindow();
    // Sets the pending placement once the window is shown normal (its frame then known).
    void placeOnceShownNormal(bool wasShownNormal);

    std::string toolName_;
    std::string title_;
    CPluginDlg* dlg_ = nullptr;
    std::atomic<bool> closing_{false}; // set while closeWindow runs: posts from other threads are dropped
    int pendingShowCmd_ = SW_SHOW;     // show state of the placement read for a new window
    bool placementStored_ = false;     // the settings file held a position for the window being made
    bool placementPending_ = false;    // a stored outer size waits for the window's first normal show
    WindowPlacement pendingPlacement_; // that placement, as fitted to the screens
};
