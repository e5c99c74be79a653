// The base of every tool window of a plug-in skeleton (mult_data_wnd.h, simple_plugin.h): a parentless,
// resizable, modeless dialog owned by its skeleton. The user's close goes to the skeleton (which hides or
// destroys the window and saves its placement); the dialog never deletes itself, and the skeleton defers
// the deletion while one of the dialog's own handlers may still be running. GUI thread only.
#pragma once

#include "mult_data.h"
#include "uikit/resizeable_dlg.h"

// What a tool window asks of the skeleton that owns it.
class PluginWindowOwner {
public:
    // 0, or -1 when the window cannot be made. From another thread: waits for the GUI thread.
    virtual int showWindow(int nCmdShow) = 0;
    // Destroys the window with its placement saved, or only hides it (a skeleton that keeps its windows
    // hidden on close, unless force).
    virtual void closeWindow(bool force) = 0;
    // Restores the window's placement from the skeleton's settings file; the dialog calls it from Create.
    virtual void loadWindowPos(PlacementForm form = PlacementForm::MoveOnly) = 0;

protected:
    ~PluginWindowOwner() = default;
};

class CPluginDlg : public CResizeableDlg {
    Q_OBJECT
public:
    CPluginDlg();
    ~CPluginDlg() override;

    // Set by the skeleton right after construction.
    PluginWindowOwner* owner() const { return owner_; }
    void setOwner(PluginWindowOwner* owner) { owner_ = owner; }

    // The window's creation, run by the skeleton after construction and before the first show: the dialog
    // builds its controls and restores its placement (owner()->loadWindowPos()) here. false: the window
    // cannot be made; the skeleton then deletes the object and reports -1.
    virtual bool Create();

    // The device of this window was reconnected or replaced. Default: reopenKeepingVisibility, so that a
    // window is built for the changed device and reads the new settings file, its placement written to
    // the old one, also while the skeleton keeps windows hidden on close (a close that is not forced would
    // only hide this one and show it again with the old device's settings).
    virtual void deviceChanged();

protected:
    // The user's close (title-bar button, Esc, the dialog's own close command). Default:
    // owner()->closeWindow(false); a dialog that takes values from its controls first overrides it.
    virtual void OnClose();

    // closeWindow(true), then showWindow(SW_SHOW) when the window was visible (a new window takes the
    // show state of its placement, as with SW_SHOWNORMAL), else SW_HIDE.
    void reopenKeepingVisibility();

    void closeEvent(QCloseEvent* event) override;
    void accept() override;
    void reject() override;

private:
    PluginWindowOwner* owner_ = nullptr;
};
