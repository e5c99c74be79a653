// A scratch app folder with the real manager, a simulated detector (or a four-chip test device) and
// ChainEdit.so listed in its ini file; the manager's exports bound into a function table, as a plug-in sees
// them.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_mgr.h"

namespace chaintest {

namespace fs = std::filesystem;

enum class Detector { Simulated, FourChips };

class FilterApp {
public:
    explicit FilterApp(const std::string& name, Detector detector = Detector::Simulated)
        : dir_(ombrel_test::scratchDir("chainedit-" + name)), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::copy_file(CHAIN_APP_DIR "/libTvkManager.so", dir_ + "/libTvkManager.so");
        fs::copy_file(CHAIN_APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        fs::copy_file(CHAIN_PLUGIN_PATH, dir_ + "/ChainEdit.so");
        if (fs::exists(CHAIN_APP_DIR "/configs"))
            fs::copy(CHAIN_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        if (detector == Detector::Simulated) {
            fs::copy_file(CHAIN_APP_DIR "/hwlibs/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
            fs::copy_file(CHAIN_APP_DIR "/hwlibs/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
            ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=1\nUnique=0\n");
        } else {
            fs::copy_file(CHAIN_FAKEHW_PATH, dir_ + "/hwlibs/fakehw.so");
            ombrel_test::writeFile(dir_ + "/hwlibs/fakehw.ini", "[Fake]\nDevices=1\n[Device0]\nChips=4\n");
        }
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini", "[Plugins]\nChainEdit.so\n");
        fs::current_path(dir_); // the log and relative paths live in the app folder
        if (!lib_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(lib_.error());
        bind();
    }
    ~FilterApp()
    {
        unload();
        fs::current_path(oldCwd_);
    }
    FilterApp(const FilterApp&) = delete;
    FilterApp& operator=(const FilterApp&) = delete;

    int start()
    {
        call<int (*)(void*, const void*)>("mgrSetUiHooks")(nullptr, nullptr);
        return call<int (*)()>("mgrInitManager")();
    }
    // Exit (the ini sections written) and unload; start() then makes a fresh manager in the same folder.
    void unload()
    {
        if (auto exitManager = call<int (*)()>("mgrExitManager"))
            exitManager();
        if (auto unloadManager = call<int (*)()>("mgrUnloadManager"))
            unloadManager();
    }

    const _MgrFuncTable& t() const { return table_; }
    const std::string& dir() const { return dir_; }
    std::string log() const { return ombrel_test::readFile(dir_ + "/log.txt"); }

    // Id of a registered chainedit function.
    int funcId(const char* name) const
    {
        _FuncItem item{};
        if (table_.mgrGetFuncItem("chainedit", name, &item) != 0)
            throw std::runtime_error(std::string("not registered: ") + name);
        return item.id;
    }
    // A new instance of a filter with instances.
    int newInstance(const char* filter, const char* name) const
    {
        int id = 0;
        if (table_.mgrCreateFilterInst(funcId(filter), name, &id) != 0)
            throw std::runtime_error(std::string("no instance of ") + filter);
        return id;
    }
    int setText(int id, int index, const std::string& text) const
    {
        return table_.mgrSetFilterPar(id, index, text.c_str(), uint32_t(text.size() + 1));
    }
    template <class T>
    int setValue(int id, int index, T value) const
    {
        return table_.mgrSetFilterPar(id, index, &value, sizeof value);
    }
    std::vector<unsigned char> getValue(int id, int index) const
    {
        std::vector<unsigned char> value(1024);
        _FilterParDesc desc{};
        desc.data = value.data();
        uint32_t size = uint32_t(value.size());
        if (table_.mgrGetFilterPar(id, index, &desc, &size) != 0)
            throw std::runtime_error("parameter not readable");
        value.resize(size);
        return value;
    }

    // Runs a chain of the given members (function or instance ids) on a copy of the frame: the manager's
    // result and the copy's id.
    int runChain(const std::vector<int>& members, uint32_t frameId, uint32_t* outId) const
    {
        static int serial = 0;
        int chain = 0;
        const std::string name = "test" + std::to_string(serial++);
        if (table_.mgrCreateFilterChain("chainedit", name.c_str(), &chain) != 0)
            throw std::runtime_error("no chain");
        for (int m : members)
            if (table_.mgrAddToFilterChain(chain, m, -1) != 0)
                throw std::runtime_error("member refused");
        const int rc = table_.mgrGetFilteredFrame(chain, frameId, outId);
        table_.mgrRemoveFilterChain(chain);
        return rc;
    }

    // A stored frame of width x height elements of type with the given values (converted from double).
    uint32_t frame(uint32_t width, uint32_t height, int type, const std::vector<double>& values) const
    {
        uint32_t id = 0;
        if (table_.mgrCreateFrame(&id, width, height, type | 0x100, "test") != 0)
            throw std::runtime_error("no frame");
        std::vector<unsigned char> bytes(values.size() * 8);
        for (size_t i = 0; i < values.size(); ++i) {
            switch (type) {
            case TYPE_I16: reinterpret_cast<int16_t*>(bytes.data())[i] = int16_t(values[i]); break;
            case TYPE_U32: reinterpret_cast<uint32_t*>(bytes.data())[i] = uint32_t(values[i]); break;
            default: reinterpret_cast<double*>(bytes.data())[i] = values[i]; break;
            }
        }
        const uint32_t size = uint32_t(values.size() * (type == TYPE_I16 ? 2 : type == TYPE_U32 ? 4 : 8));
        if (table_.mgrSetFrameData(id, bytes.data(), size) != 0)
            throw std::runtime_error("frame data refused");
        return id;
    }
    std::vector<double> values(uint32_t id) const
    {
        uint32_t w = 0, h = 0;
        table_.mgrGetFrameSize(id, &w, &h);
        std::vector<double> out(size_t(w) * h);
        uint32_t size = uint32_t(out.size() * sizeof(double));
        if (table_.mgrGetFrameData(id, out.data(), &size, TYPE_DOUBLE) != 0)
            throw std::runtime_error("frame data not readable");
        return out;
    }
    std::vector<uint32_t> storedFrames() const
    {
        std::vector<uint32_t> ids;
        uint32_t id = 0;
        for (int rc = table_.mgrGetFirstFrame(&id); rc == 0; rc = table_.mgrGetNextFrame(&id))
            ids.push_back(id);
        return ids;
    }

private:
    template <class Fn>
    Fn call(const char* name)
    {
        return reinterpret_cast<Fn>(lib_.symbol(name));
    }
    void bind()
    {
        table_.version = MGR_INTERFACE_VERSION;
#define CHAIN_BIND(field) table_.field = reinterpret_cast<decltype(table_.field)>(lib_.symbol(#field))
        CHAIN_BIND(mgrLogMsg);
        CHAIN_BIND(mgrGetRegFirstFunc);
        CHAIN_BIND(mgrGetRegNextFunc);
        CHAIN_BIND(mgrGetFuncItem);
        CHAIN_BIND(mgrCallFuncItem);
        CHAIN_BIND(mgrCreateFilterChain);
        CHAIN_BIND(mgrRemoveFilterChain);
        CHAIN_BIND(mgrAddToFilterChain);
        CHAIN_BIND(mgrGetFilteredFrame);
        CHAIN_BIND(mgrCreateFilterInst);
        CHAIN_BIND(mgrDeleteFilterInst);
        CHAIN_BIND(mgrGetFirstFilterInst);
        CHAIN_BIND(mgrGetNextFilterInst);
        CHAIN_BIND(mgrSetFilterPar);
        CHAIN_BIND(mgrGetFilterPar);
        CHAIN_BIND(mgrCreateFrame);
        CHAIN_BIND(mgrLoadFrame);
        CHAIN_BIND(mgrSaveFrame);
        CHAIN_BIND(mgrGetFirstFrame);
        CHAIN_BIND(mgrGetNextFrame);
        CHAIN_BIND(mgrCloseFrame);
        CHAIN_BIND(mgrLockFrame);
        CHAIN_BIND(mgrUnlockFrame);
        CHAIN_BIND(mgrGetFrameType);
        CHAIN_BIND(mgrSetFrameType);
        CHAIN_BIND(mgrGetFrameSize);
        CHAIN_BIND(mgrSetFrameData);
        CHAIN_BIND(mgrGetFrameData);
        CHAIN_BIND(mgrAddFrameAttrib);
        CHAIN_BIND(tvkCtrlGetDevInfo);
        CHAIN_BIND(tvkCtrlSetPixelsCfg);
        CHAIN_BIND(tvkCtrlSetSuperMatrixPixCfg);
#undef CHAIN_BIND
    }

    std::string dir_;
    fs::path oldCwd_;
    plat::Module lib_;
    _MgrFuncTable table_{};
};

} // namespace chaintest
