/* A plug-in written in C can use the manager's records. */
#include "tvk_mgr.h"

static int filterRun(void* userData, const _FuncSlot* in, void* const* out)
{
    (void)userData;
    (void)out;
    return in[0].u == 0 && in[1].p == 0 ? -1 : 0;
}

_FuncItem mgrHeaderCheckItem = {filterRun, 2, 0, {{0}}, {{0}}, "plugin", "filter", "", 0, FUNC_FILTER, 0};
