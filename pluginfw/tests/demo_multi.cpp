// A multi-device tool plug-in written on the skeleton alone, as the tests and the look at the windows
// use it: tool "Demo", one small window per device.
#include <stdexcept>

#include <QLabel>
#include <QLineEdit>

#include "pluginfw/mult_data_wnd.h"
#include "pluginfw/plugin_entry.h"
#include "pluginfw/thread_op.h"
#include "uikit/message_box.h"

namespace {

class DemoDlg : public CPluginDlg {
public:
    static constexpr const char* kToolName = "Demo";

    explicit DemoDlg(int devId) : devId_(devId) { setObjectName(QStringLiteral("DemoDlg")); }

    bool Create() override
    {
        auto* label = new QLabel(QStringLiteral("Settings of device %1").arg(devId_), this);
        label->setGeometry(12, 12, 296, 20);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("note"));
        edit->setGeometry(12, 40, 296, 24);
        setMinimumSize(200, 80);
        resize(320, 120);
        addDlgItem(edit, 0);
        OnInitDialog();
        owner()->loadWindowPos();
        return true;
    }

private:
    int devId_;
};

class DemoData : public MultDataBaseWnd<DemoDlg> {
public:
    explicit DemoData(int devId) : MultDataBaseWnd(devId) {}
};

MultDataPluginMgr<DemoData> gDemo;

} // namespace

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) { return gDemo.init(t); });
}

// For the tests: a worker of this module whose work throws; its exit code.
extern "C" TVK_EXPORT int demoRunThrowingWorker()
{
    ThreadOpHandle worker = startThreadOp([](ThOpPars*) -> int { throw std::runtime_error("demo fault"); }, nullptr);
    return worker.join();
}

// For the tests: this module's own message-box handler (each module keeps its own).
extern "C" TVK_EXPORT void demoSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}
