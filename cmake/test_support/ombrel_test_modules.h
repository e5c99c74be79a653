// Library copies that a test loaded stay loaded until the program ends: the manager, the device-control and
// the hardware libraries keep process-wide objects that only a loaded module still reaches.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/module.h"

namespace ombrel_test {

inline void keepLoaded(plat::Module&& module)
{
    static auto* modules = new std::vector<plat::Module>; // never destroyed: never unloaded
    if (module.isOpen())
        modules->push_back(std::move(module));
}

// One more reference, never released, to the library at path that the code under test has loaded.
inline void keepLoaded(const std::string& path)
{
    plat::Module module;
    if (module.open(path))
        keepLoaded(std::move(module));
}

} // namespace ombrel_test
