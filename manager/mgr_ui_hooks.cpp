#include "mgr_ui_hooks.h"

MgrUiHooks& headlessUiHooks()
{
    static MgrUiHooks hooks;
    return hooks;
}
