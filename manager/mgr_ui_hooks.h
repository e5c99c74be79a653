// The manager's side of the user-interface hooks (MgrUiHooks, tvk_mgr_view.h): the shell implements
// them over its windows; tests replace them.
#pragma once

#include "tvk_mgr_view.h"

// The hooks used when nobody provides any: no windows, boxes answered with OK / No.
MgrUiHooks& headlessUiHooks();
