// A module of its own whose event callback the manager can tell apart from the test program's.
#include <cstdint>
#include <string>

#include "tvk_export.h"

namespace {
std::string g_calls;
}

TVK_EXTERN_C TVK_EXPORT void testPluginOnEvent(intptr_t arg)
{
    g_calls += std::to_string(arg) + " ";
}

TVK_EXTERN_C TVK_EXPORT const char* testPluginCalls()
{
    return g_calls.c_str();
}
