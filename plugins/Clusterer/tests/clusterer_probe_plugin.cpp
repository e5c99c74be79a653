// A test plug-in beside Clusterer.so: it keeps the manager's table for the test and offers one filter,
// "fail", that fails on every frame, so that a test can build a filter chain that fails.
#include <cstring>

#include "tvk_export.h"
#include "tvk_mgr.h"

static const _MgrFuncTable* g_table = nullptr;
static int g_failFilter = -1;

static int failingFilter(void*, const _FuncSlot*, void* const*)
{
    return -1;
}

TVK_EXTERN_C TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    g_table = table;
    static _FuncItem item{};
    item.callback = &failingFilter;
    item.inCount = 2;
    item.in[0] = _FuncParam{TYPE_U32, 1, "ID of frame"};
    item.in[1] = _FuncParam{TYPE_U32, 1, "ID of filter instance"};
    std::strcpy(item.plugin, "clusterer_probe");
    std::strcpy(item.function, "fail");
    std::strcpy(item.description, "Fails on every frame");
    item.flags = FUNC_FILTER;
    if (table->mgrAddFuncItem(&item) == 0)
        g_failFilter = item.id;
    return 0;
}

TVK_EXTERN_C TVK_EXPORT const _MgrFuncTable* clustererProbeTable()
{
    return g_table;
}

TVK_EXTERN_C TVK_EXPORT int clustererProbeFailFilter()
{
    return g_failFilter;
}
