// The utilities library carries none of the manager's code: it reads the manager's records through the
// view of tvk_mgr_view.h and calls it through the internal table, so a second copy of the registries
// (with static state of its own) in libTvkMgrUtils.so is a fault. Read from the built library's symbols.
#include <cxxabi.h>

#include <cctype>
#include <cstdlib>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "elf_reader.h"

namespace {

// The classes of the manager's core (manager/*.h).
const std::set<std::string> kManagerClasses = {
    "BaseInfo", "ItemMgr", "PluginInfo", "PluginMgr", "FunctionInfo", "ParamInfo", "FuncMgr", "FilterInfo",
    "FilterInstInfo", "FilterChainInfo", "ChainMember", "FilterChainMgr", "HeldFilterLines", "MenuItemInfo",
    "MenuMgr", "DeviceMenuLabels", "EventInfo", "EventMgr", "FrameAttribInfo", "FrameAttribMgr", "Log",
    "FrameStore", "UiHooksProxy"};

std::string demangled(const std::string& name)
{
    int status = 0;
    char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status != 0 || !text)
        return name;
    std::string result(text);
    std::free(text);
    return result;
}

// The manager class whose code or data a demangled symbol is ("FuncMgr::addFuncItem(_FuncItem*)",
// "ItemMgr<PluginInfo>::add(...)", "vtable for EventMgr", "guard variable for Log::..."), or "". A class
// that only names a parameter's type, as the table's opaque PluginInfo* does, is not its code.
std::string managerClassOf(const std::string& symbol)
{
    auto isWordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (size_t at = 0; at < symbol.size();) {
        if (!isWordChar(symbol[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < symbol.size() && isWordChar(symbol[end]))
            ++end;
        const std::string word = symbol.substr(at, end - at);
        const bool owner = symbol.compare(end, 2, "::") == 0 || symbol.compare(end, 1, "<") == 0 ||
                           (end == symbol.size() && at >= 5 && symbol.compare(at - 5, 5, " for ") == 0);
        if (owner && kManagerClasses.count(word))
            return word;
        at = end;
    }
    return {};
}

TEST(UtilsLibrarySymbols, NoneOfTheManagersClasses)
{
    const ombrel_test::ElfFile library(UTILS_LIBRARY_PATH);
    std::set<std::string> symbols;
    for (const std::string& name : library.definedSymbols())
        symbols.insert(demangled(name));
    // The symbols were read, the library's own classes among them.
    ASSERT_TRUE(symbols.count("setIntFuncTable")) << "cannot read the symbols of " << UTILS_LIBRARY_PATH;
    ASSERT_TRUE(symbols.count("CTvkMgrUtilsApp::instance()"));

    std::set<std::string> found;
    for (const std::string& symbol : symbols) {
        const std::string owner = managerClassOf(symbol);
        if (!owner.empty() && found.insert(owner).second)
            ADD_FAILURE() << owner << " in the utilities library, e.g. " << symbol;
    }
}

TEST(UtilsLibrarySymbols, TheManagerLibraryIsNotLinked)
{
    for (const std::string& needed : ombrel_test::ElfFile(UTILS_LIBRARY_PATH).neededLibraries())
        EXPECT_EQ(needed.find("TvkManager"), std::string::npos) << needed;
}

} // namespace
