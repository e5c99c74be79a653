// A device-control library with detector-model (or test hardware) devices reached through a manager function table, as the
// panel sees it. The DAC and external-DAC slots pass through counters, and a hook may run inside a set
// (to move a slider while the set runs) or refuse it with a code.
#pragma once

#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "tvk_mgr.h"

namespace decktest {

struct Hooks {
    std::mutex logMutex;
    std::vector<std::string> log; // guarded by logMutex
    std::atomic<int> setDacsCalls{0};
    std::atomic<int> refuseSetDacs{0};
    std::function<void()> duringSet; // run once inside the next set, then cleared
    decltype(_MgrFuncTable::tvkCtrlSetDACs) realSetDacs = nullptr;
    decltype(_MgrFuncTable::tvkCtrlGetSingleDACAnalog) realSense = nullptr;
    std::vector<int> sensed; // DAC indices sensed, in order; guarded by logMutex

    static Hooks& instance()
    {
        static Hooks hooks;
        return hooks;
    }
};

inline int recordLog(const char* source, const char* format, int flags, ...)
{
    char text[1024];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Hooks& h = Hooks::instance();
    std::lock_guard<std::mutex> guard(h.logMutex);
    h.log.push_back(std::string(source) + ": " + text);
    return 0;
}

inline int countedSetDacs(unsigned dev, const uint16_t* dacs, int size, int chip, int refChip, int refFlags)
{
    Hooks& h = Hooks::instance();
    ++h.setDacsCalls;
    if (h.refuseSetDacs)
        return h.refuseSetDacs;
    const int rc = h.realSetDacs(dev, dacs, size, chip, refChip, refFlags);
    if (auto during = std::exchange(h.duringSet, nullptr))
        during();
    return rc;
}

inline int recordedSense(unsigned dev, double* values, int size, int dac, int chip, int samples)
{
    Hooks& h = Hooks::instance();
    {
        std::lock_guard<std::mutex> guard(h.logMutex);
        h.sensed.push_back(dac);
    }
    return h.realSense(dev, values, size, dac, chip, samples);
}

class DeckRig {
public:
    // hwIni: the settings of the detector model, or with fake set those of the test hardware library.
    explicit DeckRig(const std::string& hwIni, bool fake = false)
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = ombrel_test::scratchDir(std::string("dacdeck-") + test->name());
        namespace fs = std::filesystem;
        fs::create_directories(folder_ + "/hwlibs");
        fs::copy_file(OMBREL_APP_DIR_FOR_TESTS "/libTvkCtrl.so", folder_ + "/libTvkCtrl.so");
        if (fs::exists(OMBREL_APP_DIR_FOR_TESTS "/configs"))
            fs::copy(OMBREL_APP_DIR_FOR_TESTS "/configs", folder_ + "/configs", fs::copy_options::recursive);
        const std::string lib = folder_ + (fake ? "/hwlibs/fakehw" : "/hwlibs/tvkHwModel");
        fs::copy_file(fake ? FAKEHW_LIBRARY_PATH : HWMODEL_LIBRARY_PATH, lib + ".so");
        if (!ombrel_test::writeFile(lib + ".ini", hwIni))
            throw std::runtime_error("cannot write the model's settings");
        if (!ctrl_.open(folder_ + "/libTvkCtrl.so"))
            throw std::runtime_error(ctrl_.error());
        Hooks& h = Hooks::instance();
        {
            std::lock_guard<std::mutex> guard(h.logMutex);
            h.log.clear();
            h.sensed.clear();
        }
        h.setDacsCalls = 0;
        h.refuseSetDacs = 0;
        h.duringSet = nullptr;
        table_.version = MGR_INTERFACE_VERSION;
        table_.mgrLogMsg = recordLog;
#define DECK_BIND(slot, name) table_.slot = reinterpret_cast<decltype(table_.slot)>(symbol(#name))
        DECK_BIND(tvkCtrlGetDACsNames, getDACsNames);
        DECK_BIND(tvkCtrlGetDevInfo, getDevInfo);
        DECK_BIND(tvkCtrlGetDACs, getDACs);
        DECK_BIND(tvkCtrlSetDACs, setDACs);
        DECK_BIND(tvkCtrlGetSingleDACAnalog, getSingleDACAnalog);
        DECK_BIND(tvkCtrlSetDACRefCoef, setDACRefCoef);
        DECK_BIND(tvkCtrlTryLockDevice, tryLockDevice);
        DECK_BIND(tvkCtrlReleaseDevice, releaseDevice);
        DECK_BIND(tvkCtrlSetExtDAC, setExtDAC);
        DECK_BIND(tvkCtrlGetExtDAC, getExtDAC);
#undef DECK_BIND
        h.realSetDacs = table_.tvkCtrlSetDACs;
        table_.tvkCtrlSetDACs = countedSetDacs;
        h.realSense = table_.tvkCtrlGetSingleDACAnalog;
        table_.tvkCtrlGetSingleDACAnalog = recordedSense;
        if (reinterpret_cast<int (*)()>(symbol("initTvkCtrl"))() != 0)
            throw std::runtime_error("the device-control library did not start");
    }
    ~DeckRig()
    {
        reinterpret_cast<int (*)()>(symbol("exitTvkCtrl"))();
        Hooks::instance().duringSet = nullptr;
        ombrel_test::keepLoaded(std::move(ctrl_));
    }
    DeckRig(const DeckRig&) = delete;
    DeckRig& operator=(const DeckRig&) = delete;

    const _MgrFuncTable* table() const { return &table_; }
    // The table without the counting wrapper: what the test itself reads or sets on the device.
    _MgrFuncTable direct() const
    {
        _MgrFuncTable t = table_;
        t.tvkCtrlSetDACs = Hooks::instance().realSetDacs;
        return t;
    }
    const std::string& folder() const { return folder_; }

    static std::vector<int> sensed()
    {
        Hooks& h = Hooks::instance();
        std::lock_guard<std::mutex> guard(h.logMutex);
        return h.sensed;
    }

    static std::vector<std::string> log()
    {
        Hooks& h = Hooks::instance();
        std::lock_guard<std::mutex> guard(h.logMutex);
        return h.log;
    }

private:
    void* symbol(const char* name)
    {
        void* p = ctrl_.symbol(name);
        if (!p)
            throw std::runtime_error(std::string("missing ") + name);
        return p;
    }

    std::string folder_;
    plat::Module ctrl_;
    _MgrFuncTable table_{};
};

} // namespace decktest
