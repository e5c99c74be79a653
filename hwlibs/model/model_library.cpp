// The test-only hardware library tvkHwModel: devices that serve the detector model through the
// hardware-library kit, and the control functions of model_control.h.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "detector_model.h"
#include "hwlibs/common/hw_func_table.h"
#include "model_control.h"
#include "platform/ini.h"
#include "platform/numbers.h"
#include "tvk_export.h"
#include "tvk_hw.h"

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void);

namespace {

using hwmodel::DetectorModel;
using hwmodel::ModelParams;

constexpr int kModelError = -1;
constexpr const char* kSection = "Model";

std::string iniPath()
{
    return hwkit::settingsPathOf(reinterpret_cast<const void*>(&getMandatoryFuncs));
}

std::string iniText(const char* key, const char* def)
{
    char out[256];
    plat::getProfileString(kSection, key, def, out, sizeof out, iniPath().c_str());
    return out;
}

int iniInt(const char* key, int def)
{
    return plat::getProfileInt(kSection, key, def, iniPath().c_str());
}

double iniDouble(const char* key, double def)
{
    return plat::parseDouble(iniText(key, "")).value_or(def);
}

class ModelDevice final : public hwkit::Device {
public:
    explicit ModelDevice(int index) : index_(index) {}

    int beforeCall(const char* function) override
    {
        const int64_t n = ++calls_[function];
        const auto it = failAt_.find(function);
        if (it == failAt_.end() || it->second != n)
            return 0;
        failAt_.erase(it);
        return setError(kModelError, "Injected failure of %s.", function);
    }

    int init() override
    {
        ModelParams p;
        p.chips = iniInt("Chips", 1);
        p.chipType = iniInt("Type", 1);
        p.seed = static_cast<uint32_t>(iniInt("Seed", 1) + index_);
        p.offsetSigma = iniDouble("OffsetSigma", 10.0);
        p.adjGain = iniDouble("AdjGain", 6.0);
        p.noiseWidth = iniDouble("NoiseWidth", 2.0);
        p.dead = iniInt("Dead", 0);
        p.poisson = iniInt("Poisson", 0) != 0;
        if ((p.chips != 1 && p.chips != 4) || p.chipType < 1 || p.chipType > 3 || !(p.noiseWidth > 0.0))
            return setError(kModelError, "Model settings out of range: Chips %d, Type %d, NoiseWidth %g.", p.chips,
                            p.chipType, p.noiseWidth);
        interface_ = iniText("Interface", "model");
        model_ = std::make_unique<DetectorModel>(p);
        const uint32_t n = model_->pixelCount();
        dacs_.assign(static_cast<size_t>(p.chips * model_->dacs().count), 0);
        cfg_.assign(n, 3); // counting, test input off
        matrix_.assign(n, 0);
        written_.clear();
        codes_.assign(static_cast<size_t>(p.chips), 0);
        return 0;
    }

    int getDevInfo(_DevInfo* info) override
    {
        if (!model_)
            return setError(kModelError, "Device %d is not open.", index_);
        const int chips = model_->params().chips;
        *info = _DevInfo{};
        info->pixelCount = static_cast<int32_t>(model_->pixelCount());
        info->rowLength = chips == 4 ? 512 : 256;
        info->chipCount = chips;
        info->chipRows = chips == 4 ? 2 : 1;
        info->chipType = model_->params().chipType;
        std::snprintf(info->chipboardId, sizeof info->chipboardId, "M%d", index_);
        info->interfaceName = interface_.c_str();
        info->acqModeMask = ACQMODE_MANUAL;
        info->clockMHz = 100.0;
        info->hwTimerMax = 1e6;
        info->hwTimerStep = 1e-6;
        info->maxTestPulseCount = 65535;
        info->maxTestPulseHeight = 2.5;
        info->maxTestPulsePeriod = 1.0;
        info->extDacMax = hwmodel::kSenseFullScale;
        info->extDacStep = hwmodel::kSenseFullScale / 4095.0;
        return 0;
    }

    int getAcqTime(double* time) override
    {
        *time = pars_.acqTime;
        return 0;
    }
    int setAcqPars(const _AcqPars* pars) override
    {
        pars_ = *pars;
        return 0;
    }
    int startAcquisition() override
    {
        if (const int r = checkOpen())
            return r;
        written_.clear();
        model_->expose(cfg_.data(), thresholds(), matrix_.data());
        return 0;
    }
    int stopAcquisition() override { return 0; }
    int checkBusy(int* busy) override
    {
        *busy = 0;
        return 0;
    }
    int testPulses(double height, double, uint32_t count) override
    {
        if (const int r = checkOpen())
            return r;
        written_.clear();
        model_->pulse(cfg_.data(), thresholds(), height, count, matrix_.data());
        return 0;
    }
    int setTvkDacs(const uint16_t* dacs, int dacCount, int senseOn, int extDacOn, const int* codes,
                   uint32_t columns) override
    {
        if (const int r = checkOpen())
            return r;
        if (!dacs || dacCount != static_cast<int>(dacs_.size()))
            return setError(kModelError, "%d DAC values sent, %zu expected.", dacCount, dacs_.size());
        std::copy_n(dacs, dacCount, dacs_.begin());
        senseOn_ = senseOn;
        extDacOn_ = extDacOn;
        if (codes)
            std::copy_n(codes, codes_.size(), codes_.begin());
        columns_ = columns;
        return 0;
    }
    int getTvkDacVal(int chip, double* value) override
    {
        if (const int r = checkOpen())
            return r;
        if (chip < 0 || chip >= model_->params().chips)
            return setError(kModelError, "Invalid chip %d.", chip);
        if (extDacOn_) {
            *value = extDac_;
            return 0;
        }
        if (!senseOn_)
            return setError(kModelError, "No DAC is sensed.");
        const hwmodel::ModelDacs& layout = model_->dacs();
        const auto it = std::find(layout.sense.begin(), layout.sense.end(), codes_[static_cast<size_t>(chip)]);
        if (it == layout.sense.end())
            return setError(kModelError, "Unknown sense code %d.", codes_[static_cast<size_t>(chip)]);
        const int dac = static_cast<int>(it - layout.sense.begin());
        *value = model_->senseVolts(dac, dacs_[static_cast<size_t>(chip * layout.count + dac)]);
        return 0;
    }
    int setExtDac(double value) override
    {
        extDac_ = value;
        return 0;
    }
    int setPixelsCfg(const uint8_t* cfg, uint32_t size) override
    {
        if (const int r = checkSize(size))
            return r;
        std::copy_n(cfg, size, cfg_.begin());
        return 0;
    }
    int resetMatrix() override
    {
        if (const int r = checkOpen())
            return r;
        std::fill(matrix_.begin(), matrix_.end(), uint16_t{0});
        written_.clear();
        return 0;
    }
    int readMatrix(uint16_t* buffer, uint32_t count) override
    {
        if (const int r = checkSize(count))
            return r;
        if (!written_.empty()) { // a written pattern reads back, except in dead pixels
            for (uint32_t j = 0; j < count; ++j)
                buffer[j] = model_->isDead(j) ? 0 : written_[j];
            written_.clear();
        } else {
            std::copy_n(matrix_.begin(), count, buffer);
        }
        std::fill(matrix_.begin(), matrix_.end(), uint16_t{0});
        return 0;
    }
    int writeMatrix(const uint16_t* buffer, uint32_t count) override
    {
        if (const int r = checkSize(count))
            return r;
        written_.assign(buffer, buffer + count);
        return 0;
    }
    int generalReset() override { return 0; }

    // ---- control ----
    int trueEdges(int thh, const uint8_t* cfg, double* edges, uint32_t size)
    {
        if (const int r = checkSize(size))
            return r == kModelError ? -2 : r;
        const uint8_t* c = cfg ? cfg : cfg_.data();
        for (uint32_t j = 0; j < size; ++j)
            edges[j] = model_->isDead(j) ? NAN : thh ? model_->thhEdge(j, c[j]) : model_->thlEdge(j, c[j]);
        return 0;
    }
    int lastDacs(uint16_t* dacs, int size)
    {
        if (size != static_cast<int>(dacs_.size()))
            return -2;
        std::copy(dacs_.begin(), dacs_.end(), dacs);
        return 0;
    }
    int lastPixels(uint8_t* cfg, uint32_t size)
    {
        if (size != cfg_.size())
            return -2;
        std::copy(cfg_.begin(), cfg_.end(), cfg);
        return 0;
    }
    void failAt(const char* function, int k)
    {
        if (k <= 0)
            failAt_.erase(function);
        else
            failAt_[function] = calls_[function] + k;
    }
    int64_t calls(const char* function) { return calls_[function]; }

private:
    int checkOpen()
    {
        return model_ ? 0 : setError(kModelError, "Device %d is not open.", index_);
    }
    int checkSize(uint32_t size)
    {
        if (const int r = checkOpen())
            return r;
        return size == model_->pixelCount() ? 0
                                            : setError(kModelError, "%u pixels given, %u expected.", size,
                                                       model_->pixelCount());
    }
    DetectorModel::Thresholds thresholds() const { return {dacs_.data(), pars_.polarity != 0, columns_}; }

    const int index_;
    std::unique_ptr<DetectorModel> model_;
    std::string interface_;
    _AcqPars pars_{0, 0, 1, ACQMODE_MANUAL, 0.0};
    std::vector<uint16_t> dacs_;
    std::vector<int> codes_;
    int senseOn_ = 0;
    int extDacOn_ = 0;
    uint32_t columns_ = 0;
    double extDac_ = 0.0;
    std::vector<uint8_t> cfg_;
    std::vector<uint16_t> matrix_;
    std::vector<uint16_t> written_; // a pattern written since the last read; empty when none
    std::map<std::string, int64_t> calls_;
    std::map<std::string, int64_t> failAt_;
};

class ModelLibrary final : public hwkit::Library {
public:
    ModelLibrary() : Library(kModelError) {}

protected:
    int discover() override
    {
        const int wanted = std::clamp(iniInt("Devices", 1), 0, 16);
        for (int i = deviceCount(); i < wanted; ++i)
            addDevice(std::make_unique<ModelDevice>(i));
        return 0;
    }
    int itemCount() override { return 0; }
};

ModelLibrary& library()
{
    static ModelLibrary instance;
    return instance;
}

// Runs op on the model device with this id, its call lock held; -1 for an unknown id.
template <typename Op>
auto withDevice(int id, Op op) -> decltype(op(std::declval<ModelDevice&>()))
{
    hwkit::LockedDevice device = library().lockDevice(id);
    if (!device)
        return -1;
    return op(static_cast<ModelDevice&>(*device.get()));
}

} // namespace

extern "C" {

TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void)
{
    return hwkit::funcTable<&library>();
}

TVK_EXPORT int modelTrueEdges(int id, int thh, const uint8_t* cfg, double* edges, uint32_t size)
{
    return withDevice(id, [&](ModelDevice& d) { return d.trueEdges(thh, cfg, edges, size); });
}

TVK_EXPORT int modelLastDacs(int id, uint16_t* dacs, int size)
{
    return withDevice(id, [&](ModelDevice& d) { return d.lastDacs(dacs, size); });
}

TVK_EXPORT int modelLastPixels(int id, uint8_t* cfg, uint32_t size)
{
    return withDevice(id, [&](ModelDevice& d) { return d.lastPixels(cfg, size); });
}

TVK_EXPORT int modelFailAt(int id, const char* function, int k)
{
    return withDevice(id, [&](ModelDevice& d) {
        d.failAt(function, k);
        return 0;
    });
}

TVK_EXPORT int64_t modelCalls(int id, const char* function)
{
    return withDevice(id, [&](ModelDevice& d) { return d.calls(function); });
}

} // extern "C"
