// Fuzz entry: the manager's line sections of an arbitrary tvkmanager.ini. Its sections are read; then
// [Plugins] is replaced, which must read back exactly and leave the lines of another section as they were.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "mgr_ini.h"

namespace {

const std::string& iniFile()
{
    static const std::string file = ombrel_fuzz::scratchFolder("mgr-ini-fuzz") + "/tvkmanager.ini";
    return file;
}

std::vector<std::string> section(const std::string& name)
{
    std::vector<std::string> lines;
    readIniSection(name, iniFile(), lines);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& file = iniFile();
    ombrel_fuzz::writeFile(file, data, size);
    (void)section("Filter instances");
    const std::vector<std::string> chains = section("Filter chains");
    const std::vector<std::string> plugins = {"a.so", "plugins/b.so"};
    if (writeIniSection(file, "Plugins", plugins) == 0) {
        if (section("Plugins") != plugins)
            std::abort();
        if (section("Filter chains") != chains)
            std::abort();
    }
    return 0;
}
