#include "plugin_dlg.h"

#include <QCloseEvent>

CPluginDlg::CPluginDlg() : CResizeableDlg(nullptr) {}

CPluginDlg::~CPluginDlg() = default;

bool CPluginDlg::Create()
{
    if (owner_)
        owner_->loadWindowPos();
    return true;
}

void CPluginDlg::deviceChanged()
{
    reopenKeepingVisibility();
}

void CPluginDlg::reopenKeepingVisibility()
{
    PluginWindowOwner* owner = owner_; // closeWindow detaches this dialog from its owner
    if (!owner)
        return;
    const bool visible = isVisible();
    owner->closeWindow(true);
    owner->showWindow(visible ? SW_SHOW : SW_HIDE);
}

void CPluginDlg::OnClose()
{
    if (owner_)
        owner_->closeWindow(false);
}

void CPluginDlg::closeEvent(QCloseEvent* event)
{
    // The skeleton decides what a close does; Qt must not hide the window on its own.
    event->ignore();
    OnClose();
}

void CPluginDlg::accept()
{
    close();
}

void CPluginDlg::reject()
{
    close();
}
