// A single-window tool plug-in written on the skeleton alone: tool "Demo single" under "Utilities". It
// binds the preview functions at Start; its window opens a preview of device 0.
#include <QLabel>

#include "pluginfw/plugin_entry.h"
#include "pluginfw/prev_wnd_api.h"
#include "pluginfw/prev_wnd_error.h"
#include "pluginfw/simple_plugin.h"
#include "uikit/message_box.h"

namespace {

class DemoSingleDlg : public CPluginDlg {
public:
    static constexpr const char* kToolName = "Demo single";

    DemoSingleDlg() { setObjectName(QStringLiteral("DemoSingleDlg")); }
    ~DemoSingleDlg() override
    {
        if (previewOpen_)
            prevWndDestroy(previewId_);
    }

    bool Create() override;

private:
    uint32_t previewId_ = 0;
    bool previewOpen_ = false;
};

class DemoSingleMgr : public SingDataPluginMgr<DemoSingleDlg> {
public:
    void onStart() override
    {
        bindPrevWndApi();
        autostart();
    }
};

DemoSingleMgr gDemoSingle;

bool DemoSingleDlg::Create()
{
    auto* label = new QLabel(QStringLiteral("%1 device(s) present at start").arg(gDemoSingle.devices.size()), this);
    label->setGeometry(12, 12, 276, 20);
    setMinimumSize(200, 60);
    resize(300, 80);
    OnInitDialog();
    owner()->loadWindowPos();
    previewOpen_ = prevWndOpenForDevice(0, gDemoSingle.iniFile.c_str(), prevWndErrorCallback, nullptr,
                                        "Demo single preview", true, &previewId_) == 0;
    return true;
}

} // namespace

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) { return gDemoSingle.init(t); });
}

extern "C" TVK_EXPORT void demoSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}
