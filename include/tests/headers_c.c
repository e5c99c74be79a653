/* Every public header must be usable from C by a third-party hardware library or plug-in. */
#include "tvk_export.h"
#include "tvk_frame.h"
#include "tvk_mgr.h"
#include "tvk_hw.h"
#include "tvk_types.h"

_Static_assert(sizeof(_HwFuncTable) == 224, "_HwFuncTable layout");
_Static_assert(sizeof(_DevInfo) == 176, "_DevInfo layout");
