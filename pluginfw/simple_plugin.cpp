#include "simple_plugin.h"

#include "platform/ini.h"
#include "plugin_files.h"

namespace {
const char kModuleAnchor = 0; // an address inside the plug-in's module
}

SimplePluginCore::SimplePluginCore(const char* toolTitle)
    : PluginWindowHolder(toolTitle ? toolTitle : ""), module(&kModuleAnchor)
{
}

SimplePluginCore::~SimplePluginCore() = default;

int SimplePluginCore::initCore(const _MgrFuncTable* table, EventCallback onStart, EventCallback onExit,
                               MenuItemCallback onMenu, TvkMsgHandler msgHandler)
{
    setPluginTable(table);
    calls_.context();
    char folder[MGR_PATH_SIZE] = {};
    if (table->mgrGetConfigsDir)
        table->mgrGetConfigsDir(folder);
    iniFile = folder;
    pluginName = moduleBaseNameOf(module);
    char path[kPluginPathSize];
    if (!pluginName.empty() && buildIniPath(folder, path, module, nullptr) == 0)
        iniFile = path;
    table->mgrRegisterCallback("tvkmgr", "Start", onStart);
    table->mgrRegisterCallback("tvkmgr", "Exit", onExit);
    table->mgrAddMsgHandler(msgHandler);
    table->mgrAddMenuItem(pluginName.c_str(), toolName().c_str(), "Utilities", onMenu, nullptr, &menuItemId, 0);
    return 0;
}

bool SimplePluginCore::autostartSet() const
{
    return plat::getProfileInt(toolName().c_str(), "Autostart", 0, iniFile.c_str()) != 0;
}

void SimplePluginCore::autostart()
{
    if (autostartSet())
        showWindow(SW_SHOWNORMAL);
}
