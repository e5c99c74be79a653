#include "plugin_entry.h"

#include <QString>

#include "plugin_table.h"
#include "uikit/message_box.h"

namespace {
const char kModuleAnchor = 0; // an address inside the plug-in's module
}

int initTvkPlugin(const _MgrFuncTable* table, const std::function<int(const _MgrFuncTable*)>& init)
{
    if (!table)
        return -1;
    const std::string refusal = versionMismatchText(*table, pluginNameOf(&kModuleAnchor));
    if (!refusal.empty()) {
        messageBox(nullptr, QString::fromStdString(refusal), QStringLiteral("Plugin version check failed"),
                   MSGBOX_OK | MSGBOX_ICONWARNING);
        return -1;
    }
    return init ? init(table) : 0;
}
