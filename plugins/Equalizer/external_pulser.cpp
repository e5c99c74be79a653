#include "external_pulser.h"

#include <vector>

namespace equalizer {

ExternalPulser::ExternalPulser(const _MgrFuncTable* table, std::string appFolder)
    : table_(table), folder_(std::move(appFolder))
{
}

bool ExternalPulser::available()
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (tried_)
        return ready_;
    tried_ = true;
    std::string reason;
    if (!module_.open(folder_ + "/" + kPulserLibrary)) {
        reason = module_.error();
    } else {
        prepare_ = reinterpret_cast<HppPrepareTestPulsesFn>(module_.symbol("HppPrepareTestPulses"));
        if (prepare_)
            setCount_ = reinterpret_cast<HppSetPulseCountFn>(module_.symbol("HppSetPulseCount"));
        if (setCount_)
            getSettings_ = reinterpret_cast<HppGetSettingsFn>(module_.symbol("HppGetSettings"));
        if (getSettings_)
            setSettings_ = reinterpret_cast<HppSetSettingsFn>(module_.symbol("HppSetSettings"));
        if (!setSettings_) {
            reason = module_.error();
            module_.close();
        }
    }
    ready_ = reason.empty();
    if (!ready_ && table_ && table_->mgrLogMsg)
        table_->mgrLogMsg("equalizer", "External test pulser library %s is not available: %s.", 0, kPulserLibrary,
                          reason.c_str());
    return ready_;
}

int ExternalPulser::prepare(unsigned devId, int phase, int spacing)
{
    return available() ? prepare_(devId, phase, spacing) : -1;
}

int ExternalPulser::setPulseCount(unsigned pulses)
{
    return available() ? setCount_(pulses) : -1;
}

int ExternalPulser::getSettings(std::string* text)
{
    if (!text || !available())
        return -1;
    std::vector<char> buffer(4096);
    for (int tries = 0; tries < 8; ++tries, buffer.resize(buffer.size() * 4)) {
        if (getSettings_(buffer.data(), static_cast<unsigned>(buffer.size())) == 0) {
            buffer.back() = '\0';
            *text = buffer.data();
            return 0;
        }
    }
    return -1;
}

int ExternalPulser::setSettings(const std::string& text)
{
    return available() ? setSettings_(text.c_str()) : -1;
}

int configureEqualization(ThEqualization& eq, ExternalPulser& pulser, unsigned devId,
                          const EqualizationSettings& settings, int type, bool twoLevel, int first, int second,
                          int step, std::string* why)
{
    const bool external = type == kThlExtPulser || type == kThhExtPulser;
    if (external && !pulser.available()) {
        if (why)
            *why = "Method " + std::to_string(type) + " (" + methodLabel(type) + ") needs the external test pulser " +
                   kPulserLibrary + ", which is not available.";
        return -1;
    }
    if (eq.configure(type, twoLevel, first, second, step, why) != 0)
        return -1;
    if (!external) {
        eq.setPulserPrepare(nullptr);
        return 0;
    }
    const uint32_t pulses = settings.pulseCount;
    const int spacing = settings.spacing;
    eq.setPulserPrepare([&pulser, devId, pulses, spacing](int phase) {
        return pulser.setPulseCount(pulses) != 0 ? -1 : pulser.prepare(devId, phase, spacing);
    });
    return 0;
}

} // namespace equalizer
