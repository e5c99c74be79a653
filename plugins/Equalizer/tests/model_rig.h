// A device-control library with detector-model devices, reached through a manager function table as a
// plug-in sees it: a scratch folder holds a copy of libTvkCtrl.so, the default configurations and
// hwlibs/tvkHwModel.so with its settings; the table's device slots are the library's own functions and
// mgrLogMsg records the messages.
#pragma once

#include "ombrel_test_support.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hwlibs/model/model_control.h"
#include "platform/module.h"
#include "tvk_mgr.h"

namespace eqtest {

inline std::mutex g_logMutex;
inline std::vector<std::string> g_log; // guarded by g_logMutex

inline int recordLog(const char* source, const char* format, int flags, ...)
{
    char text[4096];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> guard(g_logMutex);
    g_log.push_back(std::string(source) + ": " + text);
    return 0;
}

class ModelRig {
public:
    explicit ModelRig(const std::string& modelIni)
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = ombrel_test::scratchDir(std::string("eq-") + test->test_suite_name() + "." + test->name());
        namespace fs = std::filesystem;
        fs::create_directories(folder_ + "/hwlibs");
        fs::copy_file(OMBREL_APP_DIR_FOR_TESTS "/libTvkCtrl.so", folder_ + "/libTvkCtrl.so");
        if (fs::exists(OMBREL_APP_DIR_FOR_TESTS "/configs"))
            fs::copy(OMBREL_APP_DIR_FOR_TESTS "/configs", folder_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(HWMODEL_LIBRARY_PATH, folder_ + "/hwlibs/tvkHwModel.so");
        if (!ombrel_test::writeFile(folder_ + "/hwlibs/tvkHwModel.ini", modelIni))
            throw std::runtime_error("cannot write the model's settings");
        if (!ctrl_.open(folder_ + "/libTvkCtrl.so"))
            throw std::runtime_error(ctrl_.error());
        table_.version = MGR_INTERFACE_VERSION;
        table_.mgrLogMsg = recordLog;
#define OMBREL_BIND(slot, name) table_.slot = reinterpret_cast<decltype(table_.slot)>(symbol(#name))
        OMBREL_BIND(tvkCtrlGetDACsNames, getDACsNames);
        OMBREL_BIND(tvkCtrlGetDevInfo, getDevInfo);
        OMBREL_BIND(tvkCtrlGetPolarity, getPolarity);
        OMBREL_BIND(tvkCtrlSetPolarity, setPolarity);
        OMBREL_BIND(tvkCtrlGetDACs, getDACs);
        OMBREL_BIND(tvkCtrlSetDACs, setDACs);
        OMBREL_BIND(tvkCtrlGetPixelsCfg, getPixelsCfg);
        OMBREL_BIND(tvkCtrlSetPixelsCfg, setPixelsCfg);
        OMBREL_BIND(tvkCtrlGetAcqSpacing, getAcqSpacing);
        OMBREL_BIND(tvkCtrlSetAcqSpacing, setAcqSpacing);
        OMBREL_BIND(tvkCtrlGetAutoConvToSM, getAutoConvToSM);
        OMBREL_BIND(tvkCtrlSetAutoConvToSM, setAutoConvToSM);
        OMBREL_BIND(tvkCtrlPerformIntegralAcq, performIntegralAcq);
        OMBREL_BIND(tvkCtrlPerformTestPulseAcq, performTestPulseAcq);
        OMBREL_BIND(tvkCtrlGetFrame32, getFrame32);
        OMBREL_BIND(tvkCtrlSetDACRefCoef, setDACRefCoef);
        OMBREL_BIND(tvkCtrlGetDACRefCoef, getDACRefCoef);
#undef OMBREL_BIND
        {
            std::lock_guard<std::mutex> guard(g_logMutex);
            g_log.clear();
        }
        if (reinterpret_cast<int (*)()>(symbol("initTvkCtrl"))() != 0)
            throw std::runtime_error("the device-control library did not start");
    }
    ~ModelRig() { reinterpret_cast<int (*)()>(symbol("exitTvkCtrl"))(); }
    ModelRig(const ModelRig&) = delete;
    ModelRig& operator=(const ModelRig&) = delete;

    const _MgrFuncTable* table() const { return &table_; }

    // A control function of the model library that the device-control library loaded.
    template <typename Fn>
    Fn model(const char* name)
    {
        if (!modelLib_.isOpen() && !modelLib_.open(folder_ + "/hwlibs/tvkHwModel.so"))
            throw std::runtime_error(modelLib_.error());
        return reinterpret_cast<Fn>(modelLib_.symbol(name));
    }

    static std::vector<std::string> log()
    {
        std::lock_guard<std::mutex> guard(g_logMutex);
        return g_log;
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
    plat::Module modelLib_;
    _MgrFuncTable table_{};
};

} // namespace eqtest
