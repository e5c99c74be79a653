#include "plugin_table.h"

#include <atomic>
#include <cstdio>
#include <cstring>

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

namespace {

template <size_t N>
void copyText(char (&dst)[N], const char* src)
{
    std::strncpy(dst, src, N - 1);
    dst[N - 1] = 0;
}

void fillParams(_FuncParam* slots, const std::vector<FuncParamSpec>& params)
{
    for (size_t i = 0; i < params.size(); ++i) {
        slots[i].type = params[i].type;
        slots[i].count = params[i].count;
        copyText(slots[i].name, params[i].name);
    }
}

} // namespace

void registerFuncRecords(const _MgrFuncTable* mgr, const char* plugin, const std::vector<FuncRecord>& records)
{
    for (const FuncRecord& r : records) {
        _FuncItem item{};
        item.callback = r.callback;
        item.inCount = static_cast<uint32_t>(r.in.size());
        item.outCount = static_cast<uint32_t>(r.out.size());
        fillParams(item.in, r.in);
        fillParams(item.out, r.out);
        copyText(item.plugin, plugin);
        copyText(item.function, r.name);
        copyText(item.description, r.description);
        mgr->mgrAddFuncItem(&item);
    }
}
