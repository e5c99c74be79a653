#include "plugin_entry.h"

#include <QString>

#include "plugin_table.h"
#include "thread_op.h"
#include "uikit/message_box.h"

namespace {

const char kModuleAnchor = 0; // an address inside the plug-in's module
const _MgrFuncTable* logTable = nullptr; // set once, before the plug-in starts any worker

// Reports of this module's worker threads go to the manager's log, the text taken verbatim.
void logWorkerReport(const char* source, const char* text, int flags)
{
    logTable->mgrLogMsg(source, "%s", flags, text);
}

} // namespace

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
    // The plug-in-wide table: the framework's dialogs and helpers reach the manager through it, whether the
    // plug-in is built on a skeleton or has an entry of its own.
    setPluginTable(table);
    if (table->mgrLogMsg) {
        logTable = table;
        setWorkerLogSink(&logWorkerReport);
    }
    return init ? init(table) : 0;
}
