// A library with its own copy of the fault translator, loaded and unloaded at run time by the fault test.
#include "platform/fault.h"
#include "tvk_export.h"

TVK_EXTERN_C TVK_EXPORT int platformFaultModuleInstall()
{
    return plat::installFaultTranslator() ? 1 : 0;
}
