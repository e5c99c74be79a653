#include "plugin_table.h"

#include <atomic>
#include <cstdio>

#include "plugin_files.h"

namespace {
std::atomic<const _MgrFuncTable*> gTable{nullptr}; // written by the entry, read by every call after it
}

const _MgrFuncTable* pluginTable()
{
    return gTable.load();
}

void setPluginTable(const _MgrFuncTable* table)
{
    gTable.store(table);
}

std::string pluginNameOf(const void* address)
{
    std::string name = moduleBaseNameOf(address);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

std::string versionMismatchText(const _MgrFuncTable& table, const std::string& pluginName)
{
    if (table.version == MGR_INTERFACE_VERSION)
        return {};
    char text[512];
    std::snprintf(text, sizeof text,
                  "Plugin \"%s\" was compiled with header files ver. %u, this version is %u, please recompile "
                  "the plugin.",
                  pluginName.c_str(), MGR_INTERFACE_VERSION, table.version);
    return text;
}
