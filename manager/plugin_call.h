// Calls into plug-in code: no exception leaves it; one is logged and turned into a failure result.
#pragma once

#include <exception>
#include <type_traits>

#include "mgr_log.h"

template <class Fn>
auto guardedPluginCall(Log& log, const char* what, int failResult, Fn&& fn) -> decltype(fn())
{
    try {
        return fn();
    } catch (const std::exception& e) {
        log.logMsg("tvkmgr", "Unhandled exception occurred in %s: %s", 0, what, e.what());
    } catch (...) {
        log.logMsg("tvkmgr", "Unhandled exception occurred in %s.", 0, what);
    }
    if constexpr (!std::is_void_v<decltype(fn())>)
        return failResult;
}
