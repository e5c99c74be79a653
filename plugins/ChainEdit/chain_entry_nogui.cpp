// The plug-in's entry in builds without windows (the sanitizer builds): the filters alone. A table of
// another interface version is refused before any of its entries is used.
#include <cstdio>

#include "builtin_filters.h"
#include "pluginfw/plugin_table.h"
#include "tvk_export.h"

namespace {
const char kModuleAnchor = 0;
}

TVK_EXTERN_C TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    if (!table)
        return -1;
    if (const std::string refusal = versionMismatchText(*table, pluginNameOf(&kModuleAnchor)); !refusal.empty()) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        return -1;
    }
    setPluginTable(table);
    return chainedit::registerBuiltinFilters(table);
}
