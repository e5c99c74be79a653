// The plug-in ChainEdit.so: the twelve built-in frame filters and the tool window "Filter chain editor" on
// the single-window skeleton (menu item under "Utilities", its own settings file, placement kept,
// "Autostart"), with the event through which the chain choosers of other windows follow its changes.
#include <cstdio>

#include "builtin_filters.h"
#include "chain_edit_dlg.h"
#include "pluginfw/plugin_entry.h"
#include "pluginfw/simple_plugin.h"
#include "uikit/chain_list.h"
#include "uikit/message_box.h"

namespace {

class ChainEditMgr : public SimplePluginMgr<CChainEditDlg> {
public:
    void onStart() override { autostart(); }
};

ChainEditMgr gTool;

} // namespace

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) {
        if (const int r = chainedit::registerBuiltinFilters(t); r != 0)
            return r;
        _EventDesc event{};
        std::snprintf(event.plugin, sizeof event.plugin, "%s", kChainEventSource);
        std::snprintf(event.name, sizeof event.name, "%s", kChainEventName);
        std::snprintf(event.description, sizeof event.description, "%s", "Filter chain was created, changed or removed");
        int eventId = 0;
        if (t->mgrAddCBEvent(&event, &eventId) != 0)
            eventId = 0; // the editor still works; other windows then see its changes when their list drops down
        setChainEditContext(t, chainedit::kPluginName, eventId);
        return gTool.init(t);
    });
}

// Tests answer the plug-in's questions (it has its own copy of the box function).
TVK_EXTERN_C TVK_EXPORT void chaineditSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}
