// A test plug-in that only keeps the manager's table, so that a test drives the manager exactly as a plug-in
// does (every entry of the table, also those the manager's library does not export by name).
#include "tvk_export.h"
#include "tvk_mgr.h"

static const _MgrFuncTable* g_table = nullptr;

TVK_EXTERN_C TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    g_table = table;
    return 0;
}

TVK_EXTERN_C TVK_EXPORT const _MgrFuncTable* clustProbeTable()
{
    return g_table;
}
