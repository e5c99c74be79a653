// Shared by the utilities library's tests: a scratch folder, a stand-in for the manager behind the
// internal table (log queue, menu calls, exit, plug-in walk over a PluginMgr), and a fixture that starts
// and ends the library's windows around each test.
#pragma once

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "manager/plugin_mgr.h"
#include "tvk_mgr.h"
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

// Processes events until pred holds (generous limit); false when it never did.
inline bool processUntil(const std::function<bool()>& pred)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// What the windows ask of the manager, recorded.
struct FakeManager {
    std::mutex m; // guards everything below
    std::deque<LogItem> queue;
    std::vector<int> calledItems;
    int exitCalls = 0;
    int findNewCalls = 0;
    PluginMgr* plugins = nullptr; // for the plug-in walk; may be null

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
            auto p = gFake->plugins ? gFake->plugins->findPlugin(name) : nullptr;
            *out = p.get();
            return p ? 0 : MGR_ERR_NO_PLUGIN;
        },
        [](int* id, PluginInfo** out) -> int {
            if (!gFake->plugins)
                return 1;
            uint32_t u = 0;
            std::shared_ptr<PluginInfo> p;
            const int r = gFake->plugins->getFirstPlugin(&u, &p);
            *id = static_cast<int>(u);
            *out = p.get();
            return r;
        },
        [](int* id, PluginInfo** out) -> int {
            if (!gFake->plugins)
                return 1;
            uint32_t u = static_cast<uint32_t>(*id);
            std::shared_ptr<PluginInfo> p;
            const int r = gFake->plugins->getNextPlugin(&u, &p);
            *id = static_cast<int>(u);
            *out = p.get();
            return r;
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
