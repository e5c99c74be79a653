// A library that needs a function nobody defines: opening it with RTLD_NOW must fail.
#include "tvk_export.h"

TVK_EXTERN_C int platformTestMissingFunction();

TVK_EXTERN_C TVK_EXPORT int platformTestCallsMissing()
{
    return platformTestMissingFunction();
}
