#include "pulse_settings.h"

#include <cmath>
#include <cstring>

#include "platform/ini.h"
#include "platform/numbers.h"

namespace {

constexpr const char* kSection = "Settings";

struct Checker {
    const PulseSettingTexts& texts;
    PulseSettingsCheck& out;

    const std::string* text(const char* key)
    {
        const auto it = texts.find(key);
        return it == texts.end() ? nullptr : &it->second;
    }
    void fail(const char* key, const char* message)
    {
        if (out.error.empty()) {
            out.error = message;
            out.key = key;
        }
    }
    template <typename T>
    void integer(const char* key, T& value, int64_t min, int64_t max, const char* message = kBadValue)
    {
        if (const std::string* t = text(key)) {
            const auto v = plat::parseInt64(*t);
            if (!v || *v < min || *v > max)
                return fail(key, message);
            value = static_cast<T>(*v);
        }
    }
    void real(const char* key, double& value, double min, double max, bool minIncluded,
              const char* message = kBadValue)
    {
        if (const std::string* t = text(key)) {
            const auto v = plat::parseDouble(*t);
            if (!v || *v > max || *v < min || (!minIncluded && *v == min))
                return fail(key, message);
            value = *v;
        }
    }
};

} // namespace

PulseSettingsCheck checkPulseSettings(const PulseSettingTexts& texts, const PulseSettings& base, unsigned width,
                                      unsigned height)
{
    PulseSettingsCheck out{base, {}, {}};
    PulseSettings& s = out.settings;
    Checker c{texts, out};
    int baselineOn = s.baselineOn ? 1 : 0;
    c.integer(pulsekey::BaselineOn, baselineOn, 0, 1);
    s.baselineOn = baselineOn != 0;
    c.integer(pulsekey::BaselineOffset, s.baselineOffset, -65535, 65535);
    c.integer(pulsekey::ShapeHistory, s.shapeHistory, 0, 1000);
    c.real(pulsekey::SpectrumScale, s.spectrumScale, 0.0, 1000.0, false);
    c.integer(pulsekey::ClusterThreshold, s.clusterThreshold, 1, 65535);
    c.integer(pulsekey::MinClusterSize, s.minClusterSize, 0, 1 << 24);
    c.real(pulsekey::MinRoundness, s.minRoundness, 0.0, 10.0, true);
    c.real(pulsekey::EnhanceFactor, s.enhanceFactor, 1.0, 16.0, true, kBadFactor);
    if (out.key != pulsekey::EnhanceFactor &&
        uint64_t{enhancedSide(width, s.enhanceFactor)} * enhancedSide(height, s.enhanceFactor) > kMaxEnhancedPixels)
        c.fail(pulsekey::EnhanceFactor, kBadFactor);
    c.integer(pulsekey::OverlapLevel, s.overlapLevel, 0, 65535, kBadOverlap);
    return out;
}

PulseSettingTexts pulseSettingTexts(const PulseSettings& s)
{
    return {
        {pulsekey::BaselineOn, s.baselineOn ? "1" : "0"},
        {pulsekey::BaselineOffset, std::to_string(s.baselineOffset)},
        {pulsekey::ShapeHistory, std::to_string(s.shapeHistory)},
        {pulsekey::SpectrumScale, plat::formatDouble(s.spectrumScale)},
        {pulsekey::ClusterThreshold, std::to_string(s.clusterThreshold)},
        {pulsekey::MinClusterSize, std::to_string(s.minClusterSize)},
        {pulsekey::MinRoundness, plat::formatDouble(s.minRoundness)},
        {pulsekey::EnhanceFactor, plat::formatDouble(s.enhanceFactor)},
        {pulsekey::OverlapLevel, std::to_string(s.overlapLevel)},
    };
}

std::string pulseSettingsPath(const std::string& configsDir, const char* interfaceName, const char* chipboardId,
                              size_t chipboardIdSize)
{
    const std::string id = chipboardId ? std::string(chipboardId, strnlen(chipboardId, chipboardIdSize)) : "";
    return configsDir + "PulseScan_" + (interfaceName ? interfaceName : "") + "_" + id + ".txt";
}

PulseSettings loadPulseSettings(const std::string& file)
{
    const PulseSettings defaults;
    PulseSettings s = defaults;
    // Key by key, so that one bad value keeps only its own default.
    for (const auto& entry : pulseSettingTexts(defaults)) {
        const std::optional<std::string> value = plat::iniRead(file, kSection, entry.first);
        if (!value)
            continue;
        const PulseSettingsCheck one = checkPulseSettings({{entry.first, *value}}, s, 0, 0);
        if (one.error.empty())
            s = one.settings;
    }
    return s;
}

int savePulseSettings(const std::string& file, const PulseSettings& settings, std::string* error)
{
    const PulseSettingTexts texts = pulseSettingTexts(settings);
    return plat::iniWriteSection(file, kSection, {texts.begin(), texts.end()}, error);
}
