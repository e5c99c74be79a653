// A running manager with the simulated detector in a scratch app folder, driven through its function
// table, for the device control tests. No Qt: a test with windows pumps its own events meanwhile.
// The table the tests hand to the code under test is a copy whose log entry records every line.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_mgr.h"

namespace ctrl_test {

namespace fs = std::filesystem;

template <class Fn>
Fn symbolOf(plat::Module& m, const char* name)
{
    void* p = m.symbol(name);
    if (!p)
        throw std::runtime_error(std::string("missing ") + name);
    return reinterpret_cast<Fn>(p);
}

// Lines logged through the recording table.
struct LogRecord {
    std::mutex m; // guards lines
    std::vector<std::string> lines;
};
inline LogRecord& logRecord()
{
    static LogRecord r;
    return r;
}
inline int recordLog(const char* source, const char* fmt, int flags, ...)
{
    char text[1024];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::lock_guard l(logRecord().m);
    logRecord().lines.push_back(std::string(source) + ": " + text);
    return 0;
}

class CtrlApp : public ::testing::Test {
protected:
    // A manager with this many simulated devices and, after the test's own, the plug-ins listed.
    // prepare runs in the app folder before the manager starts.
    void startManager(int devices = 1, const std::string& extraPlugins = "", const std::function<void()>& prepare = {})
    {
        dir_ = ombrel_test::scratchDir(std::string("ctrl-") +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        oldCwd_ = fs::current_path();
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        fs::create_directories(dir_ + "/out");
        for (const char* file : {"libTvkManager.so", "libTvkCtrl.so"})
            fs::copy_file(fs::path(CTRL_APP_DIR) / file, dir_ + "/" + file);
        if (fs::exists(CTRL_APP_DIR "/configs"))
            fs::copy(CTRL_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(CTRL_APP_DIR "/hwlibs/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
        for (const auto& e : fs::directory_iterator(CTRL_APP_DIR "/hwlibs"))
            if (e.path().filename().string().rfind("dummy_", 0) == 0)
                fs::copy_file(e.path(), dir_ + "/hwlibs/" + e.path().filename().string());
        ASSERT_TRUE(ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDummy.ini",
                                           "[Dummy]\nCount=" + std::to_string(devices) + "\nUnique=0\n"));
        fs::copy_file(CTRL_TABLE_PLUGIN, dir_ + "/plugins/prevtest_table.so");
        ASSERT_TRUE(ombrel_test::writeFile(dir_ + "/tvkmanager.ini",
                                           "[Plugins]\nplugins/prevtest_table.so\n" + extraPlugins));
        fs::current_path(dir_);
        if (prepare)
            prepare();
        ASSERT_TRUE(manager_.open(dir_ + "/libTvkManager.so")) << manager_.error();
        symbolOf<int (*)(void*, const void*)>(manager_, "mgrSetUiHooks")(nullptr, nullptr);
        ASSERT_EQ(symbolOf<int (*)()>(manager_, "mgrInitManager")(), 0);
        plat::Module table;
        ASSERT_TRUE(table.open(dir_ + "/plugins/prevtest_table.so")) << table.error();
        real_ = symbolOf<const _MgrFuncTable* (*)()>(table, "previewTestTable")();
        ombrel_test::keepLoaded(std::move(table));
        ASSERT_NE(real_, nullptr);
        table_ = *real_;
        table_.mgrLogMsg = recordLog;
        t_ = &table_;
        clearLog();
    }
    // afterExit runs between "Exit" and the unload: with windows, what they left queued runs there, before the
    // plug-in goes, as the loader's loop runs it.
    void stopManager(const std::function<void()>& afterExit = {})
    {
        if (manager_.isOpen()) {
            symbolOf<int (*)()>(manager_, "mgrExitManager")();
            if (afterExit)
                afterExit();
            symbolOf<int (*)()>(manager_, "mgrUnloadManager")();
            ombrel_test::keepLoaded(std::move(manager_));
        }
        if (!oldCwd_.empty())
            fs::current_path(oldCwd_);
    }
    void TearDown() override { stopManager(); }

    static void clearLog()
    {
        std::lock_guard l(logRecord().m);
        logRecord().lines.clear();
    }
    std::vector<std::string> loggedLines()
    {
        std::lock_guard l(logRecord().m);
        return logRecord().lines;
    }
    // Every file name in the output folder, sorted.
    std::vector<std::string> outFiles() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ + "/out"))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    int storedFrames() const
    {
        int n = 0;
        uint32_t id = 0;
        for (int rc = t_->mgrGetFirstFrame(&id); rc == 0; rc = t_->mgrGetNextFrame(&id))
            ++n;
        return n;
    }

    std::string dir_;
    fs::path oldCwd_;
    plat::Module manager_;
    const _MgrFuncTable* real_ = nullptr;
    _MgrFuncTable table_{};
    const _MgrFuncTable* t_ = nullptr;
};

} // namespace ctrl_test
