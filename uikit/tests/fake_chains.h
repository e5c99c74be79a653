// A manager table that offers only a list of filter chains, which a test changes at will.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

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
