// The beam-hardening tool window.
#include "hardencal_dlg.h"

#include <QVBoxLayout>

#include "hardencal_panel.h"

namespace {

hcal::CalibHost* gHost = nullptr; // GUI thread

} // namespace

hcal::CalibHost* hardenCalHost()
{
    return gHost;
}

void setHardenCalHost(hcal::CalibHost* host)
{
    gHost = host;
}

CHardenCalDlg::CHardenCalDlg(int devId) : devId_(devId) {}

CHardenCalDlg::~CHardenCalDlg() = default;

bool CHardenCalDlg::Create()
{
    hcal::CalibHost* host = hardenCalHost();
    hcal::CalibContext* ctx = host ? host->context(devId_) : nullptr;
    if (!ctx)
        return false;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    panel_ = new HardenCalPanel(*host, *ctx, this);
    layout->addWidget(panel_);
    layout->activate(); // size limits settled before the window is placed
    resize(sizeHint().expandedTo(QSize(980, 640)));
    OnInitDialog();
    owner()->loadWindowPos(PlacementForm::MoveAndSize);
    return true;
}

// Registered functions may have changed the context while the window was hidden or closed.
void CHardenCalDlg::showEvent(QShowEvent* event)
{
    if (panel_)
        panel_->refresh();
    CPluginDlg::showEvent(event);
}
