// Fuzz entry: the ini layer on an arbitrary file. Every section, key and value is read through each
// reader; then one value is written, which must read back exactly and leave the other sections' values
// as they were.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_scratch.h"
#include "platform/ini.h"

namespace {

const std::string& iniFile()
{
    static const std::string file = ombrel_fuzz::scratchFolder("ini-fuzz") + "/fuzz.ini";
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& file = iniFile();
    ombrel_fuzz::writeFile(file, data, size);
    char out[64];
    const std::vector<std::string> sections = plat::iniSections(file);
    for (const std::string& section : sections) {
        for (const std::string& key : plat::iniKeys(file, section)) {
            (void)plat::iniRead(file, section, key);
            plat::getProfileString(section.c_str(), key.c_str(), "d", out, sizeof out, file.c_str());
            (void)plat::getProfileInt(section.c_str(), key.c_str(), 0, file.c_str());
        }
        (void)plat::iniSectionEntries(file, section);
        plat::getProfileString(section.c_str(), nullptr, "", out, sizeof out, file.c_str());
    }
    plat::getProfileString(nullptr, nullptr, "", out, sizeof out, file.c_str());

    // A write changes its own key only. (A name with a NUL cannot pass the C calls.)
    std::vector<std::string> named;
    for (const std::string& name : sections)
        if (name.find('\0') == std::string::npos)
            named.push_back(name);
    const std::string section = named.empty() ? "S" : named.front();
    const std::string other = named.size() > 1 ? named.back() : "";
    const auto before = other.empty() ? std::vector<std::pair<std::string, std::string>>{}
                                      : plat::iniSectionEntries(file, other);
    if (plat::writeProfileString(section.c_str(), "fuzzKey", " a value ", file.c_str()) == 0) {
        if (plat::iniRead(file, section, "fuzzKey") != std::optional<std::string>(" a value "))
            std::abort();
        if (!other.empty() && plat::iniSectionEntries(file, other) != before)
            std::abort();
    }
    return 0;
}
