// Module boundaries in the includes: a header of another module is named with its folder
// ("platform/ini.h"), and only the headers a module offers to others are reached that way. A reach past a
// neighbour into its internals fails here, so it shows in review instead of growing quietly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kRoot = OMBREL_SOURCE_DIR;

// Every module folder and the headers it offers to other modules ("*": all of them). The public records
// of include/ are named bare and are open to all.
struct Module {
    const char* folder;
    std::vector<std::string> offers;
};
const std::vector<Module> kModules = {
    {"platform", {"*"}},
    {"pluginfw", {"*"}},
    {"uikit", {"*"}},
    {"hwlibs/common", {"*"}},
    {"ctrl", {"tvk_ctrl.h", "tvk_frame_info.h"}},
    {"hwlibs/dummy", {}},
    {"hwlibs/model", {"model_control.h"}},
    {"plugins/Equalizer", {}},
    {"hwlibs/codec", {"counter_codec.h", "tests/hand_streams.h"}}, // and the hand-worked streams for tests
    {"hwlibs/dorvel", {}},
    {"hwlibs/usb", {}},
    {"manager", {"tvk_manager.h"}},
    {"shell/utils", {"tvk_mgr_utils.h"}},
    {"shell/loader", {}},
    {"chart", {"*"}},
    {"plugins/ChainEdit", {}},
    {"plugins/PulseScan", {}},
    {"plugins/Clusterer", {}},
    {"plugins/HardenCal", {}},
    {"plugins/TvkCtrlUI", {}},
    {"plugins/DacDeck", {}},
    {"plugins/tvkprobing", {}},
    {"cmake/test_support", {"*"}},
};

// Folders whose files measure or test the internals of others on purpose.
const std::vector<std::string> kMayReachInternals = {"bench"};

bool isUnder(const std::string& rel, const std::string& folder)
{
    return rel.size() > folder.size() && rel.compare(0, folder.size(), folder) == 0 && rel[folder.size()] == '/';
}

const Module* moduleOf(const std::string& rel)
{
    const Module* best = nullptr;
    for (const Module& m : kModules)
        if (isUnder(rel, m.folder) && (!best || std::string(m.folder).size() > std::string(best->folder).size()))
            best = &m;
    return best;
}

bool offers(const Module& m, const std::string& header)
{
    for (const std::string& h : m.offers)
        if (h == "*" || h == header)
            return true;
    return false;
}

std::string rootRelative(const fs::path& p)
{
    return fs::relative(fs::weakly_canonical(p), kRoot).generic_string();
}

// Why an include breaks the rules, or empty when it keeps them.
std::string checkInclude(const std::string& file, const std::string& included)
{
    const Module* own = moduleOf(file);
    const fs::path beside = (kRoot / file).parent_path() / included;
    if (fs::exists(beside)) {
        const Module* target = moduleOf(rootRelative(beside));
        if (target == own || !target)
            return {};
        return "reaches into " + std::string(target->folder) + " through a relative path";
    }
    if (fs::exists(kRoot / "include" / included))
        return {};
    if (own && fs::exists(kRoot / own->folder / included))
        return {}; // the module's own header, seen by its tests through the module's include path
    if (own && std::string(own->folder) == "cmake/test_support")
        return {};
    if (!fs::exists(kRoot / included)) {
        const bool testCode = file.find("/tests/") != std::string::npos || file.find("/fuzz/") != std::string::npos;
        if (testCode && fs::exists(kRoot / "cmake/test_support" / included))
            return {}; // the shared test helpers
        return "names a header of another module without its folder";
    }
    const Module* target = moduleOf(included);
    if (!target || target == own)
        return {};
    for (const std::string& folder : kMayReachInternals)
        if (isUnder(file, folder))
            return {};
    const std::string header = included.substr(std::string(target->folder).size() + 1);
    if (offers(*target, header))
        return {};
    return "reaches an internal header of " + std::string(target->folder);
}

std::vector<std::string> sourceFiles()
{
    std::vector<std::string> files;
    for (auto it = fs::recursive_directory_iterator(kRoot); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename().string();
        if (it->is_directory() && (name.rfind("build", 0) == 0 || name[0] == '.')) {
            it.disable_recursion_pending();
            continue;
        }
        const std::string ext = it->path().extension().string();
        if (it->is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".c"))
            files.push_back(rootRelative(it->path()));
    }
    return files;
}

TEST(ModuleIncludes, EveryIncludeKeepsTheModuleBoundaries)
{
    const std::regex includeLine(R"(^\s*#\s*include\s+"([^"]+)\")");
    std::vector<std::string> faults;
    const std::vector<std::string> files = sourceFiles();
    ASSERT_FALSE(files.empty()) << "no sources under " << kRoot;
    for (const std::string& file : files) {
        std::ifstream in(kRoot / file);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch match;
            if (!std::regex_search(line, match, includeLine))
                continue;
            const std::string why = checkInclude(file, match[1]);
            if (!why.empty())
                faults.push_back(file + ":" + std::to_string(number) + ": \"" + match[1].str() + "\" " + why);
        }
    }
    for (const std::string& fault : faults)
        ADD_FAILURE() << fault;
}

// The rule itself, on includes that a reviewer should see refused or let through.
TEST(ModuleIncludes, RuleTellsBoundariesFromInternals)
{
    struct Case {
        const char* file;
        const char* included;
        bool allowed;
    };
    const Case cases[] = {
        {"ctrl/device.cpp", "platform/ini.h", true},
        {"ctrl/device.cpp", "tvk_hw.h", true},
        {"ctrl/device.cpp", "device.h", true},
        {"ctrl/tests/dev_config_test.cpp", "device.h", true},
        {"ctrl/tests/dev_config_test.cpp", "ombrel_test_support.h", true},
        {"manager/frame_store.cpp", "ctrl/tvk_frame_info.h", true},
        {"shell/loader/main.cpp", "manager/tvk_manager.h", true},
        {"bench/acq_frame_bench.cpp", "ctrl/registry.h", true},
        {"manager/frame_store.cpp", "tvk_utils.h", false},        // another module's header without its folder
        {"shell/utils/log_dlg.cpp", "manager/mgr_log.h", false},  // a neighbour's internals
        {"manager/manager.cpp", "../ctrl/device.h", false},       // around the rule through a relative path
        {"manager/manager.cpp", "ctrl/device.h", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkInclude(c.file, c.included).empty(), c.allowed) << c.file << " includes " << c.included;
}

} // namespace
