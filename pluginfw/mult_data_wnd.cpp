#include "mult_data_wnd.h"

#include <QCoreApplication>
#include <QThread>

#include "platform/ini.h"

MultDataWndCore::MultDataWndCore(int devId, const char* toolName, MenuItemCallback menuCallback)
    : MultDataBase(devId), PluginWindowHolder(toolName ? toolName : ""), menuCallback_(menuCallback)
{
    setTitle();
    addMenuItem();
}

MultDataWndCore::~MultDataWndCore() = default;

void MultDataWndCore::autostart()
{
    if (plat::getProfileInt(toolName().c_str(), "Autostart", 0, loadIniFile.c_str()) != 0)
        showWindow(SW_SHOWNORMAL);
}

void MultDataWndCore::prepareExit()
{
    CritSecGuard guard(lock);
    exiting = true;
    closeWindow(true);
}

void MultDataWndCore::onDevChanged()
{
    CritSecGuard guard(lock);
    updateIniFile();
    setTitle();
    if (CPluginDlg* w = window())
        w->deviceChanged();
}

int MultDataWndCore::addMenuItem()
{
    const _MgrFuncTable* table = pluginTable();
    if (!table || !table->mgrAddTvkMenuItem)
        return -1;
    return table->mgrAddTvkMenuItem(devId, moduleName.c_str(), toolName().c_str(), nullptr, menuCallback_,
                                    reinterpret_cast<void*>(static_cast<intptr_t>(devId)), &menuItemId, 0);
}

void MultDataWndCore::setTitle()
{
    setWindowTitle(deviceWindowTitle(toolName(), devId, *this, devInfoRead()));
}

PluginCallContext::PluginCallContext() = default;
PluginCallContext::~PluginCallContext() = default;

QObject* PluginCallContext::context()
{
    if (!context_) {
        context_ = std::make_unique<QObject>();
        if (QCoreApplication* app = QCoreApplication::instance())
            if (context_->thread() != app->thread())
                context_->moveToThread(app->thread());
    }
    return context_.get();
}
