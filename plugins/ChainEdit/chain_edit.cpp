// The plug-in's entry: the manager's interface version checked, the built-in filters registered.
#include "builtin_filters.h"
#include "tvk_export.h"
#include "tvk_mgr.h"

TVK_EXTERN_C TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    if (!table)
        return -1;
    if (table->version != MGR_INTERFACE_VERSION) {
        table->mgrLogMsg(chainedit::kPluginName,
                         "ChainEdit works with the manager interface version %u; this manager has version %u.",
                         MGRLOG_MSGBOX, MGR_INTERFACE_VERSION, table->version);
        return -1;
    }
    return chainedit::registerBuiltinFilters(table);
}
