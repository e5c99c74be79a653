// A small library for the module tests.
#include "tvk_export.h"

TVK_EXTERN_C TVK_EXPORT int platformTestModuleAnswer()
{
    return 42;
}
