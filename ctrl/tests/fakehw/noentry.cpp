// Test-only library in "hwlibs" that lacks getMandatoryFuncs.
#include "tvk_export.h"

extern "C" TVK_EXPORT int notAHardwareLibrary()
{
    return 0;
}
