// Shared by the utilities library's tests: a scratch folder, a stand-in for the manager behind the
// internal table (log queue, menu calls, exit, plug-in walk over records that implement the manager's
// view, chain texts), and a fixture that starts and ends the library's windows around each test.
#pragma once

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "qt_test_support.h"
#include "tvk_mgr.h"
#include "tvk_mgr_view.h"
#include "utils_app.h"

namespace utilstest {

inline std::string scratchDir(const std::string& name)
{
    const char* root = std::getenv("OMBREL_TEST_TMP");
    const std::filesystem::path dir = std::filesystem::path(root && *root ? root : "/tmp") /
                                      ("shell-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

inline std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeAll(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

using ombrel_test::processUntil;

// A plug-in record as the manager's view shows it: the lists as a test sets them.
struct FakePlugin final : MgrPluginView {
    FakePlugin(uint32_t id, std::string name) : id(id), name(std::move(name)) {}

    const std::string& pluginName() const override { return name; }
    std::vector<MgrFunctionView> functionViews() const override { return functions; }
    std::vector<MgrMenuItemView> menuItemViews() const override { return menuItems; }
    std::vector<MgrFrameAttribView> frameAttribViews() const override { return frameAttribs; }
    std::vector<MgrEventView> eventViews() const override { return events; }
    std::vector<MgrChainView> chainViews() const override { return chains; }

    const uint32_t id;
    const std::string name; // lower-case, as the manager keeps it
    std::vector<MgrFunctionView> functions;
    std::vector<MgrMenuItemView> menuItems;
    std::vector<MgrFrameAttribView> frameAttribs;
    std::vector<MgrEventView> events;
    std::vector<MgrChainView> chains;
};

// What the windows ask of the manager, recorded.
struct FakeManager {
    std::mutex m; // guards everything below
    std::deque<LogItem> queue;
    std::vector<int> calledItems;
    int exitCalls = 0;
    int findNewCalls = 0;
    std::vector<std::unique_ptr<FakePlugin>> plugins; // the plug-in walk, in ascending id
    uint32_t lastPluginId = 0;
    std::map<int, std::string> chainTexts; // chain id -> chain text ("key|key|"), for the chain-info function

    FakePlugin& addPlugin(const std::string& name)
    {
        std::lock_guard lock(m);
        plugins.push_back(std::make_unique<FakePlugin>(++lastPluginId, name));
        return *plugins.back();
    }
    bool removePlugin(const std::string& name)
    {
        std::lock_guard lock(m);
        return std::erase_if(plugins, [&](const auto& p) { return p->name == name; }) != 0;
    }
    // The plug-in with the lowest id above id; null at the end.
    FakePlugin* pluginAfter(uint32_t id)
    {
        std::lock_guard lock(m);
        for (const auto& p : plugins)
            if (p->id > id)
                return p.get();
        return nullptr;
    }
    FakePlugin* findPlugin(const char* name)
    {
        std::string lower = name ? name : "";
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::lock_guard lock(m);
        for (const auto& p : plugins)
            if (p->name == lower)
                return p.get();
        return nullptr;
    }
    // As mgrGetFilterChainInfo fills the chain text: its length + 1 always, the text when it fits.
    int chainInfo(int chainId, _FilterChainDesc* out)
    {
        std::lock_guard lock(m);
        const auto it = chainTexts.find(chainId);
        if (it == chainTexts.end())
            return MGR_ERR_NO_CHAIN;
        if (out->text && out->textSize) {
            const size_t n = std::min<size_t>(it->second.size(), out->textSize - 1);
            std::memcpy(out->text, it->second.data(), n);
            out->text[n] = '\0';
        }
        out->textSize = static_cast<uint32_t>(it->second.size() + 1);
        return 0;
    }

    void queueLog(const std::string& time, const std::string& source, const std::string& message)
    {
        LogItem item{};
        std::snprintf(item.timeText, sizeof item.timeText, "%s", time.c_str());
        std::snprintf(item.source, sizeof item.source, "%s", source.c_str());
        std::snprintf(item.message, sizeof item.message, "%s", message.c_str());
        std::lock_guard lock(m);
        queue.push_back(item);
    }
};

inline FakeManager* gFake = nullptr;

inline const _IntFuncTable& fakeTable()
{
    static const _IntFuncTable table = {
        [](const char* name, PluginInfo** out) -> int {
            FakePlugin* p = gFake->findPlugin(name);
            *out = tablePluginInfo(p);
            return p ? 0 : MGR_ERR_NO_PLUGIN;
        },
        [](int* id, PluginInfo** out) -> int {
            FakePlugin* p = gFake->pluginAfter(0);
            if (!p)
                return 1;
            *id = static_cast<int>(p->id);
            *out = tablePluginInfo(p);
            return 0;
        },
        [](int* id, PluginInfo** out) -> int {
            FakePlugin* p = gFake->pluginAfter(static_cast<uint32_t>(*id));
            if (!p)
                return 1;
            *id = static_cast<int>(p->id);
            *out = tablePluginInfo(p);
            return 0;
        },
        [](int itemId) -> int {
            std::lock_guard lock(gFake->m);
            gFake->calledItems.push_back(itemId);
            return 0;
        },
        [](const char*) -> int { return -1; },
        []() -> int {
            std::lock_guard lock(gFake->m);
            ++gFake->findNewCalls;
            return 0;
        },
        []() -> int {
            std::lock_guard lock(gFake->m);
            ++gFake->exitCalls;
            return 0;
        },
        []() -> LogItem* {
            std::lock_guard lock(gFake->m);
            return gFake->queue.empty() ? nullptr : &gFake->queue.front();
        },
        []() {
            std::lock_guard lock(gFake->m);
            if (!gFake->queue.empty())
                gFake->queue.pop_front();
        },
    };
    return table;
}

// Starts the library's windows over a fake manager and a scratch ini file; ends them afterwards.
class UtilsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        iniPath = dir + "/tvkmanager.ini";
        prepareIni();
        gFake = &fake;
        app().setIntFuncTable(&fakeTable());
        app().setIniPath(iniPath);
        ASSERT_TRUE(app().InitInstance());
    }
    void TearDown() override
    {
        app().ExitInstance();
        app().setIntFuncTable(nullptr);
        app().setChainInfoFunc(nullptr);
        gFake = nullptr;
        std::filesystem::remove_all(dir);
    }
    // Before the windows start: the ini file they read (none by default).
    virtual void prepareIni() {}

    static CTvkMgrUtilsApp& app() { return CTvkMgrUtilsApp::instance(); }

    std::string dir;
    std::string iniPath;
    FakeManager fake;
};

} // namespace utilstest
