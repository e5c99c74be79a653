#include "pulsescan_dlg.h"

#include "pluginfw/plugin_table.h"
#include "pulse_panel.h"
#include "pulse_settings.h"
#include "pulsescan_data.h"

CPulseScanDlg::CPulseScanDlg(int devId) : devId_(devId) { setObjectName(QStringLiteral("PulseScanDlg")); }

bool CPulseScanDlg::Create()
{
    PulseScanData* d = findPulseScanData(devId_);
    const _MgrFuncTable* t = pluginTable();
    if (!d || !t)
        return false;
    _DevInfo info{};
    unsigned width = 0, height = 0;
    std::string settingsFile;
    if (t->tvkCtrlGetDevInfo(static_cast<unsigned>(devId_), &info) == 0) {
        if (info.rowLength > 0 && info.pixelCount > 0 && info.pixelCount % info.rowLength == 0) {
            width = static_cast<unsigned>(info.rowLength);
            height = static_cast<unsigned>(info.pixelCount / info.rowLength);
        }
        char configs[MGR_PATH_SIZE] = {};
        if (t->mgrGetConfigsDir(configs) == 0)
            settingsFile = pulseSettingsPath(configs, info.interfaceName, info.chipboardId, sizeof info.chipboardId);
    }
    panel_ = new PulseScanPanel(d->device, settingsFile, width, height, this);
    panel_->setGeometry(0, 0, 1120, 700);
    addDlgItem(panel_, ANCHOR_STRETCH_W | ANCHOR_STRETCH_H);
    setMinimumSize(800, 560);
    resize(1120, 700);
    OnInitDialog();
    owner()->loadWindowPos(PlacementForm::MoveAndSize);
    return true;
}
