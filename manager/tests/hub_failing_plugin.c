/* A plug-in whose initialisation fails after it subscribed to "Start" and added a message handler.
   Written in C without the framework, so that nothing keeps the module loaded once the manager lets it
   go: calling any of its code after that would fault. */
#include "tvk_export.h"
#include "tvk_mgr.h"

static int g_calls = 0;

static void onStart(intptr_t arg)
{
    g_calls += (int)arg + 1;
}

static int onMessage(TvkMsg* msg)
{
    (void)msg;
    return ++g_calls < 0;
}

TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    if (!table || table->version != MGR_INTERFACE_VERSION)
        return -1;
    table->mgrRegisterCallback("tvkmgr", "Start", onStart);
    table->mgrRegisterCallback("tvkmgr", "Exit", onStart);
    table->mgrAddMsgHandler(onMessage);
    table->mgrLogMsg("mgr_hub_failing", "Module mgr_hub_failing fails its initialisation.", 0);
    return -1;
}
