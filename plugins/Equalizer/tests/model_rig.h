// A device-control library with detector-model devices, reached through a manager function table as a
// plug-in sees it: a scratch folder holds a copy of libTvkCtrl.so, the default configurations and
// hwlibs/tvkHwModel.so with its settings; the table's device slots are the library's own functions and
// mgrLogMsg records the messages.
#pragma once

#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>
#include <mutex>
#include <ostream>
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

// Manager frames for the engines that create, fill and save frames: kept in memory; a save records the
// name and the data.
struct FakeFrames {
    struct Frame {
        std::vector<uint32_t> data;
        bool locked = false;
    };
    std::mutex mutex;
    std::map<uint32_t, Frame> frames;
    uint32_t next = 1;
    std::vector<std::pair<std::string, std::vector<uint32_t>>> saved;
    int closed = 0;

    static FakeFrames& instance()
    {
        static FakeFrames store;
        return store;
    }
    static int create(uint32_t* id, uint32_t width, uint32_t height, int, const char*)
    {
        FakeFrames& s = instance();
        std::lock_guard<std::mutex> guard(s.mutex);
        *id = s.next++;
        s.frames[*id].data.assign(static_cast<size_t>(width) * height, 0);
        return 0;
    }
    static int lock(uint32_t id, void** buffer, uint32_t* size, uint32_t)
    {
        FakeFrames& s = instance();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.frames.find(id);
        if (it == s.frames.end() || it->second.locked)
            return -10;
        it->second.locked = true;
        *buffer = it->second.data.data();
        *size = static_cast<uint32_t>(it->second.data.size() * sizeof(uint32_t));
        return 0;
    }
    static int unlock(uint32_t id)
    {
        FakeFrames& s = instance();
        std::lock_guard<std::mutex> guard(s.mutex);
        s.frames[id].locked = false;
        return 0;
    }
    static int save(uint32_t id, const char* name, uint32_t)
    {
        FakeFrames& s = instance();
        std::lock_guard<std::mutex> guard(s.mutex);
        s.saved.emplace_back(name, s.frames[id].data);
        return 0;
    }
    static int close(uint32_t id, uint32_t*)
    {
        FakeFrames& s = instance();
        std::lock_guard<std::mutex> guard(s.mutex);
        s.frames.erase(id);
        ++s.closed;
        return 0;
    }
    void reset()
    {
        std::lock_guard<std::mutex> guard(mutex);
        frames.clear();
        saved.clear();
        closed = 0;
    }
};

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
        table_.mgrCreateFrame = FakeFrames::create;
        table_.mgrGetLockedFrameBuff = FakeFrames::lock;
        table_.mgrUnlockFrame = FakeFrames::unlock;
        table_.mgrSaveFrame = FakeFrames::save;
        table_.mgrCloseFrame = FakeFrames::close;
        FakeFrames::instance().reset();
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
        OMBREL_BIND(tvkCtrlPerformFrameAcq, performFrameAcq);
        OMBREL_BIND(tvkCtrlGetFrame16, getFrame16);
        OMBREL_BIND(tvkCtrlSaveFrame, saveFrame);
        OMBREL_BIND(tvkCtrlGetSingleDACAnalog, getSingleDACAnalog);
#undef OMBREL_BIND
        {
            std::lock_guard<std::mutex> guard(g_logMutex);
            g_log.clear();
        }
        if (reinterpret_cast<int (*)()>(symbol("initTvkCtrl"))() != 0)
            throw std::runtime_error("the device-control library did not start");
    }
    ~ModelRig()
    {
        reinterpret_cast<int (*)()>(symbol("exitTvkCtrl"))();
        ombrel_test::keepLoaded(std::move(modelLib_));
        ombrel_test::keepLoaded(std::move(ctrl_));
    }
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

// What a run must give back to device 0 exactly: DACs, pixel configuration (as the device-control library
// keeps it and as the model last received it), acquisition spacing and super-matrix conversion.
struct DeviceState {
    std::vector<uint16_t> dacs;
    std::vector<uint8_t> pixels, modelPixels;
    int spacing = -1, conversion = -1;

    static DeviceState of(ModelRig& rig)
    {
        const _MgrFuncTable* t = rig.table();
        _DevInfo info{};
        const char** names = nullptr;
        const int* bits = nullptr;
        int count = 0;
        DeviceState s;
        if (t->tvkCtrlGetDevInfo(0, &info) != 0 || t->tvkCtrlGetDACsNames(0, &names, &bits, &count) != 0)
            return s;
        s.dacs.resize(static_cast<size_t>(count * info.chipCount));
        s.pixels.resize(static_cast<size_t>(info.pixelCount));
        s.modelPixels.resize(s.pixels.size());
        t->tvkCtrlGetDACs(0, s.dacs.data(), static_cast<int>(s.dacs.size()), -1);
        t->tvkCtrlGetPixelsCfg(0, s.pixels.data(), static_cast<uint32_t>(s.pixels.size()), -1);
        rig.model<ModelLastPixelsFn>("modelLastPixels")(0, s.modelPixels.data(), static_cast<uint32_t>(s.modelPixels.size()));
        t->tvkCtrlGetAcqSpacing(0, &s.spacing);
        t->tvkCtrlGetAutoConvToSM(0, &s.conversion);
        return s;
    }
    bool operator==(const DeviceState&) const = default;
};

inline void PrintTo(const DeviceState& s, std::ostream* os)
{
    *os << "{" << s.dacs.size() << " DACs, " << s.pixels.size() << " pixels, spacing " << s.spacing
        << ", conversion " << s.conversion << "}";
}

} // namespace eqtest
