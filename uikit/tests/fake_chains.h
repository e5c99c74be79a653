// A manager table that offers only a list of filter chains, which a test changes at will.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/text_format.h"
#include "tvk_mgr.h"

inline std::vector<std::pair<int, std::string>> gFakeChains;

inline int fakeChainAt(size_t i, int* id, _FilterChainDesc* out)
{
    if (i >= gFakeChains.size())
        return MGR_ERR_NO_CHAIN;
    *id = gFakeChains[i].first;
    std::strncpy(out->name, gFakeChains[i].second.c_str(), sizeof out->name - 1);
    return 0;
}
inline int fakeFirstChain(int* id, _FilterChainDesc* out) { return fakeChainAt(0, id, out); }
inline int fakeNextChain(int* id, _FilterChainDesc* out)
{
    for (size_t i = 0; i < gFakeChains.size(); ++i)
        if (gFakeChains[i].first == *id)
            return fakeChainAt(i + 1, id, out);
    return MGR_ERR_NO_CHAIN;
}
inline _MgrFuncTable fakeChainTable()
{
    _MgrFuncTable t{};
    t.mgrGetFirstFilterChain = fakeFirstChain;
    t.mgrGetNextFilterChain = fakeNextChain;
    return t;
}

// The editor's event as the manager lists it, the callbacks subscribed to it and the log lines written.
inline bool gFakeChainEvent = true;
inline std::vector<EventCallback> gFakeSubscribers;
inline std::vector<std::string> gFakeLog;

inline int fakeFirstEvent(int* id, _EventDesc* out)
{
    if (!gFakeChainEvent)
        return 1;
    *id = 20;
    std::strcpy(out->plugin, "chainedit");
    std::strcpy(out->name, "FilterChainsChanged");
    return 0;
}
inline int fakeNextEvent(int*, _EventDesc*) { return 1; }
inline int fakeRegister(const char* plugin, const char* name, EventCallback cb)
{
    if (std::string(plugin) != "chainedit" || std::string(name) != "FilterChainsChanged")
        return MGR_ERR_NO_EVENT;
    gFakeSubscribers.push_back(cb);
    return 0;
}
inline int fakeUnregister(const char*, const char*, EventCallback cb)
{
    std::erase(gFakeSubscribers, cb);
    return 0;
}
inline int fakeLog(const char* source, const char* fmt, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    gFakeLog.push_back(std::string(source) + ": " + plat::vformat(fmt, args));
    va_end(args);
    return 0;
}
// The chain list with the editor's event and a log.
inline _MgrFuncTable fakeChainTableWithEvent()
{
    _MgrFuncTable t = fakeChainTable();
    t.mgrGetRegFirstCBEvent = fakeFirstEvent;
    t.mgrGetRegNextCBEvent = fakeNextEvent;
    t.mgrRegisterCallback = fakeRegister;
    t.mgrUnregisterCallback = fakeUnregister;
    t.mgrLogMsg = fakeLog;
    return t;
}
