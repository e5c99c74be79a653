// A plug-in that only keeps the manager's function table, so that a test drives a running manager through
// it. The build names the function that hands the table out (OMBREL_TABLE_FUNCTION), one per test folder.
#include "tvk_export.h"
#include "tvk_mgr.h"

namespace {
const _MgrFuncTable* table = nullptr;
}

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* t)
{
    table = t;
    return t && t->version == MGR_INTERFACE_VERSION ? 0 : -1;
}

extern "C" TVK_EXPORT const _MgrFuncTable* OMBREL_TABLE_FUNCTION()
{
    return table;
}
