// The whole manager without any window: a scratch copy of the app folder (the manager and device-control
// libraries, the simulated detector, test plug-ins), started, driven through its exports and the plug-ins'
// function table, exited and started again.
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "blocked_save_cases.h"
#include "mgr_test_support.h"
#include "platform/module.h"
#include "tvk_manager.h"
#include "tvk_mgr.h"

namespace fs = std::filesystem;

namespace {

using mgrtest::readFile;
using mgrtest::writeFile;

size_t countOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// A test plug-in as the manager loaded it: its records read through its own exports.
class PluginProbe {
public:
    explicit PluginProbe(const std::string& path)
    {
        if (!module_.open(path)) // the manager's copy: the same module, one more reference
            throw std::runtime_error(module_.error());
        events_ = reinterpret_cast<const char* (*)()>(module_.symbol("hubPluginEvents"));
        table_ = reinterpret_cast<const _MgrFuncTable* (*)()>(module_.symbol("hubPluginTable"));
        fault_ = reinterpret_cast<int (*)()>(module_.symbol("hubPluginFaultingWorker"));
    }
    std::string events() const { return events_(); }
    const _MgrFuncTable& table() const { return *table_(); }
    int faultingWorker() const { return fault_(); }

private:
    plat::Module module_;
    const char* (*events_)() = nullptr;
    const _MgrFuncTable* (*table_)() = nullptr;
    int (*fault_)() = nullptr;
};

// A scratch app folder with its own manager library, started and stopped by the test.
class ManagerApp {
public:
    // Each app has a folder of its own: a plug-in that the process keeps loaded is not met again.
    explicit ManagerApp(const std::string& name)
        : dir_(mgrtest::scratchDir("hub-" + name + "-" + std::to_string(serial_++))), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        fs::copy_file(MGR_APP_DIR "/libTvkManager.so", dir_ + "/libTvkManager.so");
        fs::copy_file(MGR_APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        if (fs::exists(MGR_APP_DIR "/configs"))
            fs::copy(MGR_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(MGR_HWLIBS_DIR "/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
        fs::copy_file(MGR_HWLIBS_DIR "/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
        writeFile(dir_ + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=1\nUnique=0\n");
        for (const char* plugin : {"alpha", "beta", "failing", "underscore", "noentry"})
            fs::copy_file(std::string(MGR_HUB_PLUGIN_DIR "/mgr_hub_") + plugin + ".so",
                          dir_ + "/plugins/mgr_hub_" + plugin + ".so");
        // "log.txt" is opened in the current folder.
        fs::current_path(dir_);
        if (!lib_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(lib_.error());
    }
    ~ManagerApp()
    {
        if (auto unloadManager = call<int (*)()>("mgrUnloadManager"))
            unloadManager();
        if (auto setHooks = call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>("mgrSetUiHooks"))
            setHooks(nullptr, nullptr);
        fs::current_path(oldCwd_);
    }

    template <class Fn>
    Fn call(const char* name)
    {
        return reinterpret_cast<Fn>(lib_.symbol(name));
    }

    int start(MgrUiHooks* ui, const MgrUtilsEntries* entries = nullptr)
    {
        call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>("mgrSetUiHooks")(ui, entries);
        return call<int (*)()>("mgrInitManager")();
    }
    int exit() { return call<int (*)()>("mgrExitManager")(); }
    int unload() { return call<int (*)()>("mgrUnloadManager")(); }
    int dispatch(TvkMsg* msg) { return call<int (*)(TvkMsg*)>("mgrMessageHandler")(msg); }
    int addPlugin(const std::string& path) { return call<int (*)(const char*)>("mgrAddPlugin")(path.c_str()); }

    void setPlugins(const std::vector<std::string>& entries)
    {
        std::string ini = "[Plugins]\n";
        for (const std::string& entry : entries)
            ini += entry + "\n";
        writeFile(iniPath(), ini);
    }
    std::string iniPath() const { return dir_ + "/tvkmanager.ini"; }
    std::string log() const { return readFile(dir_ + "/log.txt"); }
    std::string plugin(const std::string& name) const { return dir_ + "/plugins/mgr_hub_" + name + ".so"; }
    const std::string& dir() const { return dir_; }

private:
    static inline int serial_ = 0;
    std::string dir_;
    fs::path oldCwd_;
    plat::Module lib_;
};

// The frames that the store holds, in ascending id.
std::vector<uint32_t> storedFrames(ManagerApp& app)
{
    auto first = app.call<int (*)(uint32_t*)>("mgrGetFirstFrame");
    auto next = app.call<int (*)(uint32_t*)>("mgrGetNextFrame");
    std::vector<uint32_t> ids;
    uint32_t id = 0;
    for (int rc = first(&id); rc == 0; rc = next(&id))
        ids.push_back(id);
    return ids;
}

TEST(MgrHubTest, HeadlessStartAcquisitionExitAndRestart)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("start");
    app.setPlugins({"plugins/mgr_hub_alpha.so", app.plugin("beta")});
    ASSERT_EQ(app.start(&ui), 0);

    // Both plug-ins loaded, each naming its own module from the same framework code.
    const std::string log = app.log();
    EXPECT_NE(log.find("TvkManager loaded..."), std::string::npos);
    EXPECT_NE(log.find("Plugin " + app.dir() + "/plugins/mgr_hub_alpha.so successfuly loaded."), std::string::npos);
    EXPECT_NE(log.find("Plugin " + app.plugin("beta") + " successfuly loaded."), std::string::npos);
    EXPECT_NE(log.find("Module mgr_hub_alpha starts."), std::string::npos);
    EXPECT_NE(log.find("Module mgr_hub_beta starts."), std::string::npos);
    EXPECT_TRUE(ui.boxesCopy().empty());

    // The simulated single-chip device of type 1 has the service frames 1-4.
    EXPECT_EQ(storedFrames(app), (std::vector<uint32_t>{1, 2, 3, 4}));
    char name[512] = {};
    ASSERT_EQ(app.call<int (*)(uint32_t, char*)>("mgrGetFrameName")(1, name), 0);
    EXPECT_STREQ(name, "Mask bits");
    uint32_t serviceId = 0;
    EXPECT_EQ(app.call<int (*)(int, uint32_t, uint32_t*)>("mgrGetServiceFrame")(0, 4, &serviceId), 0);
    EXPECT_EQ(serviceId, 4u);
    EXPECT_EQ(app.call<int (*)(int, uint32_t, uint32_t*)>("mgrGetServiceFrame")(0, 6, &serviceId), TVK_ERR_PARAM);
    EXPECT_EQ(app.call<int (*)(int, uint32_t, uint32_t*)>("mgrGetServiceFrame")(7, 1, &serviceId), TVK_ERR_DEV_INDEX);

    PluginProbe alpha(app.plugin("alpha"));
    PluginProbe beta(app.plugin("beta"));
    EXPECT_EQ(countOf(alpha.events(), "Start 0;"), 1u);
    EXPECT_EQ(countOf(beta.events(), "Start 0;"), 1u);

    // An acquisition through the table: the first stored frame, then the completion.
    const _MgrFuncTable& table = alpha.table();
    ASSERT_EQ(table.version, MGR_INTERFACE_VERSION);
    ASSERT_EQ(table.tvkCtrlPerformFrameAcq(0, 1, 0.0, 0, nullptr), 0);
    const std::string events = alpha.events();
    const size_t created = events.find("FrameCreated 10002;");
    const size_t completed = events.find("AcqCompleted 0;");
    ASSERT_NE(created, std::string::npos) << events;
    ASSERT_NE(completed, std::string::npos) << events;
    EXPECT_LT(created, completed);
    uint32_t acquired = 0;
    ASSERT_EQ(table.tvkCtrlGetFrameID(0, 0, &acquired), 0);
    EXPECT_EQ(acquired, 10002u);

    uint32_t refCount = 0;
    EXPECT_EQ(table.mgrCloseFrame(1, &refCount), FRAME_ERR_PERSISTENT); // service frames stay
    EXPECT_EQ(refCount, 1u);

    char configs[MGR_PATH_SIZE] = {};
    EXPECT_EQ(table.mgrGetConfigsDir(configs), 0);
    EXPECT_EQ(configs, app.dir() + "/configs/");

    // A new pixel configuration reaches the service frames: mask bit, test bit, THL and THH adjustment.
    const std::vector<uint8_t> cfg(65536, 0xBD); // 101 111 0 1
    ASSERT_EQ(table.tvkCtrlSetPixelsCfg(0, const_cast<uint8_t*>(cfg.data()), 65536, 0), 0);
    const int16_t expected[4] = {1, 0, 7, 5};
    for (uint32_t k = 1; k <= 4; ++k) {
        std::vector<int16_t> values(65536, -1);
        uint32_t bytes = 65536 * sizeof(int16_t);
        ASSERT_EQ(table.mgrGetFrameData(k, values.data(), &bytes, TYPE_I16), 0);
        EXPECT_EQ(std::count(values.begin(), values.end(), expected[k - 1]), 65536) << "service frame " << k;
    }

    // A filter instance with a parameter and a chain, to be restored by the next start.
    _FuncItem scale{};
    ASSERT_EQ(table.mgrGetFuncItem("mgr_hub_alpha", "scale", &scale), 0);
    int instance = 0, chain = 0;
    ASSERT_EQ(table.mgrCreateFilterInst(scale.id, "strong", &instance), 0);
    const int32_t gain = 5;
    ASSERT_EQ(table.mgrSetFilterPar(instance, 0, &gain, sizeof gain), 0);
    ASSERT_EQ(table.mgrCreateFilterChain("mgr_hub_alpha", "main", &chain), 0);
    ASSERT_EQ(table.mgrAddToFilterChain(chain, instance, -1), 0);
    uint32_t filtered = 0;
    ASSERT_EQ(table.mgrGetFilteredFrame(chain, acquired, &filtered), 0);
    EXPECT_EQ(filtered, 10003u);

    // Exit: once, even when asked again; the three sections are written.
    EXPECT_EQ(app.exit(), 0);
    EXPECT_EQ(app.exit(), 0);
    EXPECT_EQ(countOf(alpha.events(), "Exit 0;"), 1u);
    const std::string ini = readFile(app.iniPath());
    EXPECT_NE(ini.find("[Plugins]\nplugins/mgr_hub_alpha.so\n" + app.plugin("beta") + "\n"), std::string::npos)
        << ini;
    EXPECT_NE(ini.find("[Filter instances]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("{mgr_hub_alpha:scale:strong}"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[Filter chains]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("{mgr_hub_alpha:main}"), std::string::npos) << ini;
    ASSERT_EQ(app.unload(), 0);
    EXPECT_NE(app.log().find("Plugin " + app.dir() + "/plugins/mgr_hub_alpha.so unloaded."), std::string::npos);

    // A fresh start restores the plug-ins, the instance with its parameter and the chain.
    ASSERT_EQ(app.start(&ui), 0);
    PluginProbe alpha2(app.plugin("alpha"));
    const _MgrFuncTable& t = alpha2.table();
    ASSERT_EQ(t.mgrGetFuncItem("mgr_hub_alpha", "scale", &scale), 0);
    int inst = 0;
    char instName[32] = {};
    std::vector<std::string> names;
    for (int rc = t.mgrGetFirstFilterInst(scale.id, &inst, instName); rc == 0;
         rc = t.mgrGetNextFilterInst(scale.id, &inst, instName)) {
        names.push_back(instName);
        if (names.back() == "strong")
            instance = inst;
    }
    EXPECT_EQ(names, (std::vector<std::string>{FILTER_DEFAULT_INSTANCE_NAME, "strong"}));
    int32_t value = 0;
    _FilterParDesc desc{};
    desc.data = &value;
    uint32_t size = sizeof value;
    EXPECT_EQ(t.mgrGetFilterPar(instance, 0, &desc, &size), 0);
    EXPECT_EQ(value, 5);
    _FilterChainDesc chainDesc{};
    int chainId = 0;
    ASSERT_EQ(t.mgrGetFirstFilterChain(&chainId, &chainDesc), 0);
    EXPECT_STREQ(chainDesc.name, "main");
    EXPECT_EQ(chainDesc.memberCount, 1u);
    EXPECT_EQ(app.exit(), 0);
}

// A plug-in that subscribed and added a message handler before its initialisation failed leaves none of
// its code behind: the "Start" that follows and the message dispatch reach only live code.
TEST(MgrHubTest, FailedPluginLeavesNoCodeBehind)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("failing");
    app.setPlugins({"plugins/mgr_hub_failing.so", "plugins/mgr_hub_alpha.so", "plugins/missing.so"});
    ui.answer = MsgBoxAnswer::No;
    ASSERT_EQ(app.start(&ui), 0);

    const std::string log = app.log();
    EXPECT_NE(log.find("Module mgr_hub_failing fails its initialisation."), std::string::npos);
    EXPECT_NE(log.find("Initialization of plugin " + app.plugin("failing") + " failed."), std::string::npos);
    // Unmapped: whatever of its code the manager still called would fault.
    EXPECT_EQ(readFile("/proc/self/maps").find(app.plugin("failing")), std::string::npos);
    EXPECT_NE(log.find("Cannot open plugin " + app.dir() + "/plugins/missing.so."), std::string::npos);
    const auto boxes = ui.boxesCopy();
    const auto questions = std::count_if(boxes.begin(), boxes.end(), [](const mgrtest::MsgBox& b) {
        return b.kind == MsgBoxKind::QuestionYesNo && b.caption == "Error" &&
               b.text.find("Error while loading plugin:\r") == 0 &&
               b.text.find("\rDo you want to remove it from ini file?") != std::string::npos;
    });
    EXPECT_EQ(questions, 2);

    PluginProbe alpha(app.plugin("alpha"));
    EXPECT_EQ(countOf(alpha.events(), "Start 0;"), 1u);
    TvkMsg msg{};
    EXPECT_EQ(app.dispatch(&msg), 0);
    EXPECT_EQ(countOf(alpha.events(), "Msg;"), 1u);
    EXPECT_EQ(alpha.table().mgrSetCBEvent(2 /* Start */, 7), 0);
    EXPECT_EQ(countOf(alpha.events(), "Start 7;"), 1u);

    // Answered No: the broken entries stay in [Plugins].
    EXPECT_EQ(app.exit(), 0);
    EXPECT_NE(readFile(app.iniPath()).find("plugins/mgr_hub_failing.so\nplugins/mgr_hub_alpha.so\nplugins/missing.so\n"),
              std::string::npos);
    ASSERT_EQ(app.unload(), 0);

    // Answered Yes: they are dropped at the next exit.
    ui.answer = MsgBoxAnswer::Yes;
    ASSERT_EQ(app.start(&ui), 0);
    EXPECT_EQ(app.exit(), 0);
    EXPECT_NE(readFile(app.iniPath()).find("[Plugins]\nplugins/mgr_hub_alpha.so\n"), std::string::npos)
        << readFile(app.iniPath());
}

// A tvkmanager.ini that cannot be taken (a link to /dev/zero, a file above 64 MB) does not stop the start:
// the manager starts without plug-ins, the log says why, and exit leaves the user's file as it was.
TEST(MgrHubTest, RefusedIniStartsWithDefaultsAndIsKept)
{
    const struct {
        const char* what;
        const char* reason;
    } cases[] = {{"link to /dev/zero", "it is not a regular file"}, {"100 MB", "it is larger than 64 MB"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mgrtest::RecordingUi ui;
        ManagerApp app("refused-ini");
        const bool link = std::string(c.reason).find("regular") != std::string::npos;
        if (link) {
            fs::create_symlink("/dev/zero", app.iniPath());
        } else {
            app.setPlugins({"plugins/mgr_hub_alpha.so"});
            fs::resize_file(app.iniPath(), std::uintmax_t(100) << 20); // sparse
        }
        ASSERT_EQ(app.start(&ui), 0);
        const std::string log = app.log();
        EXPECT_NE(log.find("Section [Plugins] was not read: Cannot read file \"" + app.iniPath() + "\": " + c.reason),
                  std::string::npos)
            << log;
        EXPECT_EQ(readFile("/proc/self/maps").find(app.plugin("alpha")), std::string::npos);
        EXPECT_EQ(app.exit(), 0);
        EXPECT_NE(app.log().find("Section [Plugins] was not written"), std::string::npos);
        if (link) {
            EXPECT_TRUE(fs::is_symlink(app.iniPath()));
        } else {
            EXPECT_EQ(fs::file_size(app.iniPath()), std::uintmax_t(100) << 20);
            std::ifstream in(app.iniPath(), std::ios::binary);
            std::string head(9, '\0');
            in.read(head.data(), 9);
            EXPECT_EQ(head, "[Plugins]");
        }
        ASSERT_EQ(app.unload(), 0);
    }
}

// The blocks of an ini section (each a "{...}" line with the lines after it), sorted: which plug-in's
// blocks come first depends on the order in which things were registered.
std::vector<std::string> sortedBlocks(const std::string& ini, const std::string& section)
{
    const std::string header = "[" + section + "]\n";
    const size_t begin = ini.find(header);
    if (begin == std::string::npos)
        return {};
    size_t end = ini.find("\n[", begin + header.size() - 1);
    end = end == std::string::npos ? ini.size() : end + 1;
    std::vector<std::string> blocks;
    size_t at = begin + header.size();
    while (at < end) {
        const size_t eol = std::min(ini.find('\n', at), end);
        const std::string line = ini.substr(at, eol - at);
        if (!line.empty() && (line.front() == '{' || blocks.empty()))
            blocks.emplace_back();
        if (!line.empty())
            blocks.back() += line + "\n";
        at = eol + 1;
    }
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

int32_t gainOf(const _MgrFuncTable& t, int filterOrInstanceId)
{
    int32_t value = -1;
    _FilterParDesc desc{};
    desc.data = &value;
    uint32_t size = sizeof value;
    EXPECT_EQ(t.mgrGetFilterPar(filterOrInstanceId, 0, &desc, &size), 0);
    return value;
}

// Chain name -> chain text.
std::map<std::string, std::string> chainTexts(const _MgrFuncTable& t)
{
    std::map<std::string, std::string> texts;
    int id = 0;
    _FilterChainDesc desc{};
    char text[512];
    desc.text = text;
    desc.textSize = sizeof text;
    for (int rc = t.mgrGetFirstFilterChain(&id, &desc); rc == 0; rc = t.mgrGetNextFilterChain(&id, &desc)) {
        texts[std::string(desc.plugin) + ":" + desc.name] = text;
        desc.textSize = sizeof text;
    }
    return texts;
}

// A plug-in that stays listed but cannot be loaded (its library is missing today) keeps its saved filter
// instances, parameters and chains, also as members of another plug-in's chain: they are written back
// unchanged and come back with it. Removed from the list on purpose, it loses them.
TEST(MgrHubTest, SavedFiltersOfAPluginThatDidNotLoadAreKept)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("keep");
    app.setPlugins({"plugins/mgr_hub_alpha.so", "plugins/mgr_hub_beta.so"});
    ASSERT_EQ(app.start(&ui), 0);
    const std::string mixedText =
        "mgr_hub_alpha:scale:strong|mgr_hub_beta:scale:soft|mgr_hub_alpha:scale:Default instance|";
    {
        PluginProbe alpha(app.plugin("alpha"));
        const _MgrFuncTable& t = alpha.table();
        _FuncItem alphaScale{}, betaScale{};
        ASSERT_EQ(t.mgrGetFuncItem("mgr_hub_alpha", "scale", &alphaScale), 0);
        ASSERT_EQ(t.mgrGetFuncItem("mgr_hub_beta", "scale", &betaScale), 0);
        int strong = 0, soft = 0, main = 0, mixed = 0;
        ASSERT_EQ(t.mgrCreateFilterInst(alphaScale.id, "strong", &strong), 0);
        ASSERT_EQ(t.mgrCreateFilterInst(betaScale.id, "soft", &soft), 0);
        for (const auto& [id, gain] : {std::pair{alphaScale.id, 3}, {betaScale.id, 7}, {strong, 5}, {soft, -2}})
            ASSERT_EQ(t.mgrSetFilterPar(id, 0, &gain, sizeof gain), 0);
        ASSERT_EQ(t.mgrCreateFilterChain("mgr_hub_alpha", "main", &main), 0);
        ASSERT_EQ(t.mgrAddToFilterChain(main, strong, -1), 0);
        ASSERT_EQ(t.mgrCreateFilterChain("mgr_hub_beta", "mixed", &mixed), 0);
        for (int member : {strong, soft, alphaScale.id})
            ASSERT_EQ(t.mgrAddToFilterChain(mixed, member, -1), 0);
        EXPECT_EQ(chainTexts(t)["mgr_hub_beta:mixed"], mixedText);
    }
    EXPECT_EQ(app.exit(), 0);
    const std::string saved = readFile(app.iniPath());
    ASSERT_EQ(app.unload(), 0);
    ASSERT_EQ(sortedBlocks(saved, "Filter instances").size(), 4u) << saved;
    ASSERT_EQ(sortedBlocks(saved, "Filter chains").size(), 2u) << saved;

    // alpha's library is missing and the user keeps it listed: beta's chain runs without alpha's members,
    // and at exit both sections are written back as they were.
    const std::string away = app.dir() + "/mgr_hub_alpha.so.away";
    fs::rename(app.plugin("alpha"), away);
    ui.answer = MsgBoxAnswer::No;
    ASSERT_EQ(app.start(&ui), 0);
    {
        PluginProbe beta(app.plugin("beta"));
        const auto texts = chainTexts(beta.table());
        EXPECT_EQ(texts, (std::map<std::string, std::string>{{"mgr_hub_beta:mixed", "mgr_hub_beta:scale:soft|"}}));
    }
    EXPECT_EQ(app.exit(), 0);
    const std::string withoutAlpha = readFile(app.iniPath());
    ASSERT_EQ(app.unload(), 0);
    EXPECT_NE(withoutAlpha.find("[Plugins]\nplugins/mgr_hub_alpha.so\nplugins/mgr_hub_beta.so\n"), std::string::npos);
    EXPECT_EQ(sortedBlocks(withoutAlpha, "Filter instances"), sortedBlocks(saved, "Filter instances"));
    EXPECT_EQ(sortedBlocks(withoutAlpha, "Filter chains"), sortedBlocks(saved, "Filter chains"));

    // alpha is back: its instances with their parameters and both chains are restored whole.
    fs::rename(away, app.plugin("alpha"));
    ASSERT_EQ(app.start(&ui), 0);
    {
        PluginProbe alpha(app.plugin("alpha"));
        const _MgrFuncTable& t = alpha.table();
        _FuncItem alphaScale{}, betaScale{};
        ASSERT_EQ(t.mgrGetFuncItem("mgr_hub_alpha", "scale", &alphaScale), 0);
        ASSERT_EQ(t.mgrGetFuncItem("mgr_hub_beta", "scale", &betaScale), 0);
        std::map<std::string, int32_t> gains;
        for (const _FuncItem* scale : {&alphaScale, &betaScale}) {
            int inst = 0;
            char name[32] = {};
            for (int rc = t.mgrGetFirstFilterInst(scale->id, &inst, name); rc == 0;
                 rc = t.mgrGetNextFilterInst(scale->id, &inst, name))
                gains[std::string(scale->plugin) + ":" + name] =
                    gainOf(t, std::string(name) == FILTER_DEFAULT_INSTANCE_NAME ? scale->id : inst);
        }
        EXPECT_EQ(gains, (std::map<std::string, int32_t>{{"mgr_hub_alpha:Default instance", 3},
                                                         {"mgr_hub_alpha:strong", 5},
                                                         {"mgr_hub_beta:Default instance", 7},
                                                         {"mgr_hub_beta:soft", -2}}));
        EXPECT_EQ(chainTexts(t), (std::map<std::string, std::string>{
                                     {"mgr_hub_alpha:main", "mgr_hub_alpha:scale:strong|"},
                                     {"mgr_hub_beta:mixed", mixedText}}));
    }
    EXPECT_EQ(app.exit(), 0);
    const std::string restored = readFile(app.iniPath());
    ASSERT_EQ(app.unload(), 0);
    EXPECT_EQ(sortedBlocks(restored, "Filter instances"), sortedBlocks(saved, "Filter instances"));
    EXPECT_EQ(sortedBlocks(restored, "Filter chains"), sortedBlocks(saved, "Filter chains"));

    // Missing again, and this time removed from the list: everything of alpha goes.
    fs::rename(app.plugin("alpha"), away);
    ui.answer = MsgBoxAnswer::Yes;
    ASSERT_EQ(app.start(&ui), 0);
    EXPECT_EQ(app.exit(), 0);
    const std::string removed = readFile(app.iniPath());
    EXPECT_EQ(removed.find("mgr_hub_alpha"), std::string::npos) << removed;
    EXPECT_NE(removed.find("[Filter chains]\n{mgr_hub_beta:mixed}\nmgr_hub_beta:scale:soft\n"), std::string::npos)
        << removed;
}

TEST(MgrHubTest, PluginsAddedAtRunTime)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("add");
    app.setPlugins({});
    ASSERT_EQ(app.start(&ui), 0);

    // Start with argument 1 reaches only the plug-in just added.
    ASSERT_EQ(app.addPlugin(app.plugin("alpha")), 0);
    PluginProbe alpha(app.plugin("alpha"));
    EXPECT_EQ(alpha.events(), "Start 1;");
    ASSERT_EQ(app.addPlugin(app.plugin("beta")), 0);
    PluginProbe beta(app.plugin("beta"));
    EXPECT_EQ(beta.events(), "Start 1;");
    EXPECT_EQ(alpha.events(), "Start 1;");

    // A link to a loaded module under another file name is the same plug-in.
    const std::string alias = app.dir() + "/plugins/alias.so";
    fs::create_symlink(app.plugin("alpha"), alias);

    struct Case {
        std::string path;
        std::string logged;
    };
    const Case refused[] = {
        {app.plugin("alpha"), "Plugin " + app.plugin("alpha") + " is already loaded."},
        {alias, "Plugin " + alias + " is already loaded."},
        {app.dir() + "/plugins/../plugins/MGR_HUB_ALPHA.so", // the same name in other letters
         "Plugin " + app.dir() + "/plugins/../plugins/MGR_HUB_ALPHA.so is already loaded."},
        {app.plugin("noentry"), app.plugin("noentry") + " is not valid plugin."},
        {app.dir() + "/plugins/none.so", "Cannot open plugin " + app.dir() + "/plugins/none.so."},
    };
    for (const Case& c : refused) {
        const size_t boxes = ui.boxesCopy().size();
        EXPECT_EQ(app.addPlugin(c.path), -1) << c.path;
        EXPECT_NE(app.log().find(c.logged), std::string::npos) << c.logged;
        EXPECT_EQ(ui.boxesCopy().size(), boxes + 1) << c.path;
    }
    // The refused link neither started the module again nor took away what it registered.
    EXPECT_EQ(countOf(app.log(), "Module mgr_hub_alpha starts."), 1u);
    _FuncItem echo{};
    EXPECT_EQ(alpha.table().mgrGetFuncItem("mgr_hub_alpha", "echo", &echo), 0);
    TvkMsg msg{};
    app.dispatch(&msg);
    EXPECT_EQ(countOf(alpha.events(), "Msg;"), 1u);
    EXPECT_EQ(alpha.table().mgrSetCBEvent(2 /* Start */, 7), 0);
    EXPECT_EQ(countOf(alpha.events(), "Start 7;"), 1u);

    // An entry point under its second name only.
    EXPECT_EQ(app.addPlugin(app.plugin("underscore")), 0);

    EXPECT_EQ(app.exit(), 0);
    EXPECT_NE(readFile(app.iniPath())
                  .find("[Plugins]\nplugins/mgr_hub_alpha.so\nplugins/mgr_hub_beta.so\nplugins/mgr_hub_underscore.so\n"),
              std::string::npos)
        << readFile(app.iniPath());
}

// ---- message handlers ----

std::string g_asked;
int g_consume = 0; // 1: the lower handler consumes, 2: the higher one
TvkMsgHandler g_lower = nullptr;

int handlerA(TvkMsg*)
{
    g_asked += "A";
    return g_consume == (reinterpret_cast<TvkMsgHandler>(handlerA) == g_lower ? 1 : 2);
}
int handlerB(TvkMsg*)
{
    g_asked += "B";
    return g_consume == (reinterpret_cast<TvkMsgHandler>(handlerB) == g_lower ? 1 : 2);
}
int g_utilsConsume = 0;
int utilsHandler(TvkMsg*)
{
    g_asked += "U";
    return g_utilsConsume;
}
int g_tableSet = 0;
int setIntTable(const _IntFuncTable* table)
{
    g_tableSet = table && table->intPeekLogItem && table->mgrExitManager ? 1 : -1;
    return 0;
}

TEST(MgrHubTest, MessageHandlersInAddressOrder)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("handlers");
    app.setPlugins({});
    MgrUtilsEntries entries{};
    entries.size = sizeof entries;
    entries.utilsMsgHandler = utilsHandler;
    entries.setIntFuncTable = setIntTable;
    ASSERT_EQ(app.start(&ui, &entries), 0);
    EXPECT_EQ(g_tableSet, 1);

    auto add = app.call<int (*)(TvkMsgHandler)>("mgrAddMsgHandler");
    auto remove = app.call<int (*)(TvkMsgHandler)>("mgrRemoveMsgHandler");
    const bool aLower = reinterpret_cast<uintptr_t>(handlerA) < reinterpret_cast<uintptr_t>(handlerB);
    g_lower = aLower ? handlerA : handlerB;
    const std::string lowerFirst = aLower ? "UAB" : "UBA";
    add(handlerB);
    add(handlerA);
    add(handlerA); // held once

    struct Case {
        int utilsConsume, consume;
        int result;
        std::string asked;
    };
    const Case cases[] = {
        {0, 0, 0, lowerFirst},
        {0, 1, 1, lowerFirst.substr(0, 2)}, // the lower one hides the message from the other
        {0, 2, 1, lowerFirst},
        {1, 1, 1, "U"},                      // the utilities library comes first
    };
    TvkMsg msg{};
    for (const Case& c : cases) {
        g_asked.clear();
        g_utilsConsume = c.utilsConsume;
        g_consume = c.consume;
        EXPECT_EQ(app.dispatch(&msg), c.result) << c.asked;
        EXPECT_EQ(g_asked, c.asked);
    }

    // Added twice, removed once: gone.
    remove(handlerA);
    remove(handlerB);
    g_asked.clear();
    g_utilsConsume = 0;
    EXPECT_EQ(app.dispatch(&msg), 0);
    EXPECT_EQ(g_asked, "U");
    EXPECT_EQ(app.exit(), 0);
}

// Every device-control entry of the table hands back the library's -102 for a device that does not exist.
TEST(MgrHubTest, ForwardersReturnTheDeviceErrorUnchanged)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("forwarders");
    app.setPlugins({"plugins/mgr_hub_alpha.so"});
    ASSERT_EQ(app.start(&ui), 0);
    PluginProbe alpha(app.plugin("alpha"));
    const _MgrFuncTable& t = alpha.table();

    constexpr unsigned kBad = 4000;
    int i = 0;
    unsigned u = 0;
    double d[4] = {};
    uint16_t dacs[64] = {};
    uint8_t cfg[16] = {};
    int16_t frame16[4] = {};
    uint32_t frame32[4] = {};
    char text[512] = {};
    const char* constText = nullptr;
    const char** names = nullptr;
    const int* widths = nullptr;
    HwInfoItem item{};
    _DevInfo info{};
    const std::map<std::string, std::function<int()>> calls = {
        {"ReconnectTvk", [&] { return t.tvkCtrlReconnectTvk(kBad); }},
        {"GetHwInfoCount", [&] { return t.tvkCtrlGetHwInfoCount(kBad, &i); }},
        {"GetHwInfoItem", [&] { return t.tvkCtrlGetHwInfoItem(kBad, 0, &item, &i); }},
        {"SetHwInfoItem", [&] { return t.tvkCtrlSetHwInfoItem(kBad, 0, text, 4); }},
        {"TryLockDevice", [&] { return t.tvkCtrlTryLockDevice(kBad, &i, 0); }},
        {"ReleaseDevice", [&] { return t.tvkCtrlReleaseDevice(kBad); }},
        {"GetLockOwnerID", [&] { return t.tvkCtrlGetLockOwnerID(kBad, &u); }},
        {"ReviveTvkDevice", [&] { return t.tvkCtrlReviveTvkDevice(kBad); }},
        {"InitTvkDevice", [&] { return t.tvkCtrlInitTvkDevice(kBad, nullptr); }},
        {"SaveTvkCfg", [&] { return t.tvkCtrlSaveTvkCfg(kBad, "x.tcf"); }},
        {"LoadTvkCfg", [&] { return t.tvkCtrlLoadTvkCfg(kBad, "x.tcf"); }},
        {"SaveTvkCfgAsDefault", [&] { return t.tvkCtrlSaveTvkCfgAsDefault(kBad); }},
        {"SetPolarity", [&] { return t.tvkCtrlSetPolarity(kBad, 1); }},
        {"GetPolarity", [&] { return t.tvkCtrlGetPolarity(kBad, &i); }},
        {"SetCST", [&] { return t.tvkCtrlSetCST(kBad, 0); }},
        {"GetCST", [&] { return t.tvkCtrlGetCST(kBad, &i); }},
        {"SetAcqMode", [&] { return t.tvkCtrlSetAcqMode(kBad, 1); }},
        {"GetAcqMode", [&] { return t.tvkCtrlGetAcqMode(kBad, &i); }},
        {"SetHwTimer", [&] { return t.tvkCtrlSetHwTimer(kBad, 0); }},
        {"GetHwTimer", [&] { return t.tvkCtrlGetHwTimer(kBad, &i); }},
        {"SetDACsDefault", [&] { return t.tvkCtrlSetDACsDefault(kBad); }},
        {"SetDACs", [&] { return t.tvkCtrlSetDACs(kBad, dacs, 14, 0, 0, 0); }},
        {"GetDACs", [&] { return t.tvkCtrlGetDACs(kBad, dacs, 14, 0); }},
        {"GetSingleDACAnalog", [&] { return t.tvkCtrlGetSingleDACAnalog(kBad, d, 1, 0, 0, 1); }},
        {"GetDACsAnalog", [&] { return t.tvkCtrlGetDACsAnalog(kBad, d, 4, 0); }},
        {"RefreshDACs", [&] { return t.tvkCtrlRefreshDACs(kBad); }},
        {"GetDACsNames", [&] { return t.tvkCtrlGetDACsNames(kBad, &names, &widths, &i); }},
        {"SetDACRefCoef", [&] { return t.tvkCtrlSetDACRefCoef(kBad, d, 4, 0); }},
        {"GetDACRefCoef", [&] { return t.tvkCtrlGetDACRefCoef(kBad, d, 4, 0); }},
        {"SetExtDAC", [&] { return t.tvkCtrlSetExtDAC(kBad, 0, 0.5); }},
        {"GetExtDAC", [&] { return t.tvkCtrlGetExtDAC(kBad, &i, d); }},
        {"SetPixelsCfg", [&] { return t.tvkCtrlSetPixelsCfg(kBad, cfg, sizeof cfg, 0); }},
        {"GetPixelsCfg", [&] { return t.tvkCtrlGetPixelsCfg(kBad, cfg, sizeof cfg, 0); }},
        {"ResetPixelsCfg", [&] { return t.tvkCtrlResetPixelsCfg(kBad, 0); }},
        {"SetSuperMatrixPixCfg", [&] { return t.tvkCtrlSetSuperMatrixPixCfg(kBad, cfg, sizeof cfg); }},
        {"GetSuperMatrixPixCfg", [&] { return t.tvkCtrlGetSuperMatrixPixCfg(kBad, cfg, sizeof cfg); }},
        {"RefreshPixelsCfg", [&] { return t.tvkCtrlRefreshPixelsCfg(kBad); }},
        {"SetAcqSpacing", [&] { return t.tvkCtrlSetAcqSpacing(kBad, 0); }},
        {"GetAcqSpacing", [&] { return t.tvkCtrlGetAcqSpacing(kBad, &i); }},
        {"SetAutoConvToSM", [&] { return t.tvkCtrlSetAutoConvToSM(kBad, 1); }},
        {"GetAutoConvToSM", [&] { return t.tvkCtrlGetAutoConvToSM(kBad, &i); }},
        {"ConvToSuperMatrix", [&] { return t.tvkCtrlConvToSuperMatrix(kBad, cfg, text, sizeof cfg, TYPE_UCHAR); }},
        {"ConvFromSuperMatrix", [&] { return t.tvkCtrlConvFromSuperMatrix(kBad, cfg, text, sizeof cfg, TYPE_UCHAR); }},
        {"LoadPixelsCfg", [&] { return t.tvkCtrlLoadPixelsCfg(kBad, "x.bpc", 0); }},
        {"SavePixelsCfg", [&] { return t.tvkCtrlSavePixelsCfg(kBad, "x.bpc", 0); }},
        {"LoadPixelsCfgAscii", [&] { return t.tvkCtrlLoadPixelsCfgAscii(kBad, "m", "t", "l", "h", 0); }},
        {"SavePixelsCfgAscii", [&] { return t.tvkCtrlSavePixelsCfgAscii(kBad, "m", "t", "l", "h", 0); }},
        {"PerformIntegralAcq", [&] { return t.tvkCtrlPerformIntegralAcq(kBad, 1, 0.0, 0, nullptr); }},
        {"PerformFrameAcq", [&] { return t.tvkCtrlPerformFrameAcq(kBad, 1, 0.0, 0, nullptr); }},
        {"PerformTestPulseAcq", [&] { return t.tvkCtrlPerformTestPulseAcq(kBad, 0.1, 0.001, 1, 0); }},
        {"PerformDigitalTest", [&] { return t.tvkCtrlPerformDigitalTest(kBad, &i, &u, 0, 0.0); }},
        {"AbortOperation", [&] { return t.tvkCtrlAbortOperation(kBad); }},
        {"CloseFrames", [&] { return t.tvkCtrlCloseFrames(kBad); }},
        {"GetFrame16", [&] { return t.tvkCtrlGetFrame16(kBad, frame16, 4, 0); }},
        {"GetFrame32", [&] { return t.tvkCtrlGetFrame32(kBad, frame32, 4, 0); }},
        {"GetFrameDouble", [&] { return t.tvkCtrlGetFrameDouble(kBad, d, 4, 0); }},
        {"SaveFrame", [&] { return t.tvkCtrlSaveFrame(kBad, "x.txt", 0, FSAVE_ASCII); }},
        {"GetFrameAttrib", [&] { u = sizeof text; return t.tvkCtrlGetFrameAttrib(kBad, 0, "Acq time", text, &u, &i); }},
        {"GetFrameID", [&] { return t.tvkCtrlGetFrameID(kBad, 0, &u); }},
        {"GetDevInfo", [&] { return t.tvkCtrlGetDevInfo(kBad, &info); }},
        {"GetTarvikInfo", [&] { return t.tvkCtrlGetTarvikInfo(kBad, &i, &i, text, text + 64); }},
        {"GetAcqInfo", [&] { return t.tvkCtrlGetAcqInfo(kBad, &i, &i, &i, &i); }},
        {"GetInfoMsg", [&] { return t.tvkCtrlGetInfoMsg(static_cast<int>(kBad), &i, &constText); }},
    };
    for (const auto& [name, call] : calls)
        EXPECT_EQ(call(), TVK_ERR_DEV_INDEX) << "tvkCtrl" << name;
    EXPECT_EQ(app.exit(), 0);
}

// A fault in a plug-in's worker thread is reported in the log with the module's name; the process goes on.
TEST(MgrHubTest, WorkerFaultIsLoggedWithItsModule)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("fault");
    app.setPlugins({"plugins/mgr_hub_alpha.so"});
    ASSERT_EQ(app.start(&ui), 0);
    PluginProbe alpha(app.plugin("alpha"));
    EXPECT_EQ(alpha.faultingWorker(), -1);
    const std::string log = app.log();
    const size_t report = log.find("Unhandled exception occurred in worker thread in module:\r");
    ASSERT_NE(report, std::string::npos) << log;
    EXPECT_NE(log.find("mgr_hub_alpha", report), std::string::npos);
    EXPECT_EQ(app.exit(), 0);
}

// A plug-in's mgrSaveFrame that fails at a blocked file name (a folder, a link to one, a folder that
// cannot be written) leaves the old pair byte for byte, and the frame stays as it was.
TEST(MgrHubTest, BlockedSaveOfAStoredFrameKeepsTheOldPair)
{
    mgrtest::RecordingUi ui; // outlives the manager, which may still ask it while it unloads
    ManagerApp app("blocked-save");
    app.setPlugins({"plugins/mgr_hub_alpha.so"});
    ASSERT_EQ(app.start(&ui), 0);
    PluginProbe alpha(app.plugin("alpha"));
    const _MgrFuncTable& t = alpha.table();
    uint32_t id = 0;
    ASSERT_EQ(t.mgrCreateFrame(&id, 4, 3, TYPE_U32, "test"), 0);
    int n = 0;
    for (const ombrel_test::BlockedSave& c : ombrel_test::blockedSaves()) {
        SCOPED_TRACE(c.label);
        ombrel_test::BlockedSaveFolder folder(c, app.dir() + "/case" + std::to_string(n++));
        if (!folder.ready())
            GTEST_SKIP() << "the file system cannot refuse writing into a folder";
        EXPECT_EQ(t.mgrSaveFrame(id, (folder.dir() + "/f.bin").c_str(), FSAVE_BINARY), TVK_ERR_OPEN_WRITE);
        EXPECT_EQ(folder.now(), folder.before());
    }
    EXPECT_EQ(app.exit(), 0);
}

} // namespace
