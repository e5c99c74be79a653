#include "ctrl_settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string_view>

#include "platform/ini.h"
#include "platform/numbers.h"

namespace {

constexpr const char* kSection = "Main";
constexpr int64_t kMaxCount = 1000000000; // what the count edits accept
constexpr double kMaxSeconds = 1e9;

std::string lowered(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The integer at the start of the value, as GetPrivateProfileInt reads it.
std::optional<int64_t> leadingInt(const std::string& value)
{
    std::string_view v = value;
    return plat::takeInt64(v);
}

std::optional<double> leadingDouble(const std::string& value)
{
    std::string_view v = value;
    return plat::takeDouble(v);
}

using Reader = std::function<bool(CtrlSettings&, const std::string&)>;
using Writer = std::function<std::string(const CtrlSettings&)>;
struct Key {
    const char* name;
    Reader read;   // false: the value is refused, the default stays
    Writer write;
};

template <class T>
Key intKey(const char* name, T CtrlSettings::*field, int64_t lo, int64_t hi)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                const auto n = leadingInt(v);
                if (!n || *n < lo || *n > hi)
                    return false;
                s.*field = T(*n);
                return true;
            },
            [=](const CtrlSettings& s) { return std::to_string(s.*field); }};
}
template <class T>
Key acqIntKey(const char* name, T AcqSettings::*field, int64_t lo, int64_t hi)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                const auto n = leadingInt(v);
                if (!n || *n < lo || *n > hi)
                    return false;
                s.acq.*field = T(*n);
                return true;
            },
            [=](const CtrlSettings& s) { return std::to_string(s.acq.*field); }};
}
// A switch: any non-zero number reads as 1.
Key acqFlagKey(const char* name, int AcqSettings::*field)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                const auto n = leadingInt(v);
                if (!n)
                    return false;
                s.acq.*field = *n != 0;
                return true;
            },
            [=](const CtrlSettings& s) { return std::to_string(s.acq.*field); }};
}
Key flagKey(const char* name, int CtrlSettings::*field)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                const auto n = leadingInt(v);
                if (!n)
                    return false;
                s.*field = *n != 0;
                return true;
            },
            [=](const CtrlSettings& s) { return std::to_string(s.*field); }};
}
Key acqDoubleKey(const char* name, double AcqSettings::*field, double lo, double hi)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                const auto d = leadingDouble(v);
                if (!d || !(*d >= lo && *d <= hi))
                    return false;
                s.acq.*field = *d;
                return true;
            },
            [=](const CtrlSettings& s) { return plat::formatDouble(s.acq.*field); }};
}
Key textKey(const char* name, std::string CtrlSettings::*field)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                if (v.size() > kMaxFileName)
                    return false;
                s.*field = v;
                return true;
            },
            [=](const CtrlSettings& s) { return s.*field; }};
}
Key acqTextKey(const char* name, std::string AcqSettings::*field)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                if (v.size() > kMaxFileName)
                    return false;
                s.acq.*field = v;
                return true;
            },
            [=](const CtrlSettings& s) { return s.acq.*field; }};
}

const std::vector<Key>& keys()
{
    static const std::vector<Key> table = {
        acqFlagKey("RefreshDACs", &AcqSettings::refreshDacs),
        acqFlagKey("RefreshPixelsCfg", &AcqSettings::refreshPixCfg),
        acqIntKey("AcqType", &AcqSettings::acqType, 0, 2),
        acqIntKey("AcqCount", &AcqSettings::acqCount, 1, kMaxCount),
        acqDoubleKey("AcqTime", &AcqSettings::acqTime, 1e-9, kMaxSeconds),
        acqIntKey("AcqSpacing", &AcqSettings::acqSpacing, 1, 64),
        acqTextKey("FileName", &AcqSettings::fileName),
        acqTextKey("FiltFileName", &AcqSettings::filtFileName),
        acqFlagKey("Repeat", &AcqSettings::repeat),
        acqIntKey("RepeatCount", &AcqSettings::repeatCount, 0, kMaxCount),
        acqDoubleKey("RepeatDelay", &AcqSettings::currentDelay, 0, kMaxSeconds),
        acqDoubleKey("RepeatDelayFrom", &AcqSettings::delayFrom, 0, kMaxSeconds),
        acqDoubleKey("RepeatDelayTo", &AcqSettings::delayTo, 0, kMaxSeconds),
        acqIntKey("PulseCount", &AcqSettings::pulseCount, 0, UINT32_MAX),
        acqIntKey("Spacing", &AcqSettings::tpSpacing, 1, 64),
        acqDoubleKey("PulseHeight", &AcqSettings::pulseHeight, 0, HUGE_VAL),
        acqDoubleKey("Period", &AcqSettings::pulsePeriod, 0, HUGE_VAL),
        flagKey("Autostart", &CtrlSettings::autostart),
        flagKey("LoadSaveDacsWithPixCfg", &CtrlSettings::loadSaveDacsWithPixCfg),
        intKey("FileOutputMode", &CtrlSettings::fileOutputMode, 0, 6),
        intKey("FiltOutputMode", &CtrlSettings::filtOutputMode, 0, 6),
        flagKey("RawOutput", &CtrlSettings::rawOutput),
        textKey("FilterChain", &CtrlSettings::filterChain),
        intKey("Flags", &CtrlSettings::placementFlags, INT_MIN, INT_MAX),
        intKey("ShowCmd", &CtrlSettings::showCmd, 0, 11),
        intKey("Left", &CtrlSettings::left, INT_MIN, INT_MAX),
        intKey("Top", &CtrlSettings::top, INT_MIN, INT_MAX),
        // Written only: the size is the window's own.
        {"Right", nullptr, [](const CtrlSettings& s) { return std::to_string(s.right); }},
        {"Bottom", nullptr, [](const CtrlSettings& s) { return std::to_string(s.bottom); }},
    };
    return table;
}

} // namespace

void CtrlSettings::load(const std::string& iniPath)
{
    *this = CtrlSettings{};
    if (iniPath.empty())
        return;
    std::map<std::string, std::string> values; // lower-case key -> value, the first of a name wins
    for (auto& [k, v] : plat::iniSectionEntries(iniPath, kSection))
        values.emplace(lowered(k), v);
    int position = 0;
    for (const Key& key : keys()) {
        const auto it = values.find(lowered(key.name));
        if (it == values.end() || !key.read)
            continue;
        if (key.read(*this, it->second))
            position += std::string_view(key.name) == "Left" || std::string_view(key.name) == "Top";
    }
    // A delay range whose ends are the wrong way round is no range the edit accepts.
    if (acq.delayFrom > acq.delayTo)
        acq.delayFrom = acq.delayTo = 0;
    hasPosition = position == 2;
}

std::vector<std::pair<std::string, std::string>> CtrlSettings::entries() const
{
    std::vector<std::pair<std::string, std::string>> out;
    out.reserve(keys().size());
    for (const Key& key : keys())
        out.emplace_back(key.name, key.write(*this));
    return out;
}

int CtrlSettings::save(const std::string& iniPath, std::string* errorText) const
{
    if (iniPath.empty())
        return 0;
    return plat::iniWriteSection(iniPath, kSection, entries(), errorText);
}

int readAutostart(const std::string& iniPath)
{
    return plat::getProfileInt(kSection, "Autostart", 1, iniPath.c_str());
}
