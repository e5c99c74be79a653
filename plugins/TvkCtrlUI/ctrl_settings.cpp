#include "ctrl_settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <type_traits>

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

// The member a key stands for, in the worker's settings or in the window's.
template <auto Member>
auto& acqField(CtrlSettings& s)
{
    return s.acq.*Member;
}
template <auto Member>
auto& ownField(CtrlSettings& s)
{
    return s.*Member;
}
template <class Field>
auto& constField(Field field, const CtrlSettings& s)
{
    return field(const_cast<CtrlSettings&>(s)); // read only
}

// An integer within [lo, hi]; a switch (flag) takes any number, non-zero as 1.
template <class Field>
Key intKey(const char* name, Field field, int64_t lo, int64_t hi, bool flag = false)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                const auto n = leadingInt(v);
                if (!n || (!flag && (*n < lo || *n > hi)))
                    return false;
                auto& f = field(s);
                f = std::remove_reference_t<decltype(f)>(flag ? *n != 0 : *n);
                return true;
            },
            [=](const CtrlSettings& s) { return std::to_string(constField(field, s)); }};
}
template <class Field>
Key flagKey(const char* name, Field field)
{
    return intKey(name, field, 0, 1, true);
}
template <class Field>
Key doubleKey(const char* name, Field field, double lo, double hi)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                const auto d = leadingDouble(v);
                if (!d || !(*d >= lo && *d <= hi))
                    return false;
                field(s) = *d;
                return true;
            },
            [=](const CtrlSettings& s) { return plat::formatDouble(constField(field, s)); }};
}
template <class Field>
Key textKey(const char* name, Field field)
{
    return {name,
            [=](CtrlSettings& s, const std::string& v) {
                if (v.size() > kMaxFileName)
                    return false;
                field(s) = v;
                return true;
            },
            [=](const CtrlSettings& s) { return constField(field, s); }};
}

const std::vector<Key>& keys()
{
    static const std::vector<Key> table = {
        flagKey("RefreshDACs", acqField<&AcqSettings::refreshDacs>),
        flagKey("RefreshPixelsCfg", acqField<&AcqSettings::refreshPixCfg>),
        intKey("AcqType", acqField<&AcqSettings::acqType>, 0, 2),
        intKey("AcqCount", acqField<&AcqSettings::acqCount>, 1, kMaxCount),
        doubleKey("AcqTime", acqField<&AcqSettings::acqTime>, 1e-9, kMaxSeconds),
        intKey("AcqSpacing", acqField<&AcqSettings::acqSpacing>, 1, 64),
        textKey("FileName", acqField<&AcqSettings::fileName>),
        textKey("FiltFileName", acqField<&AcqSettings::filtFileName>),
        flagKey("Repeat", acqField<&AcqSettings::repeat>),
        intKey("RepeatCount", acqField<&AcqSettings::repeatCount>, 0, kMaxCount),
        doubleKey("RepeatDelay", acqField<&AcqSettings::currentDelay>, 0, kMaxSeconds),
        doubleKey("RepeatDelayFrom", acqField<&AcqSettings::delayFrom>, 0, kMaxSeconds),
        doubleKey("RepeatDelayTo", acqField<&AcqSettings::delayTo>, 0, kMaxSeconds),
        intKey("PulseCount", acqField<&AcqSettings::pulseCount>, 0, UINT32_MAX),
        intKey("Spacing", acqField<&AcqSettings::tpSpacing>, 1, 64),
        doubleKey("PulseHeight", acqField<&AcqSettings::pulseHeight>, 0, HUGE_VAL),
        doubleKey("Period", acqField<&AcqSettings::pulsePeriod>, 0, HUGE_VAL),
        flagKey("Autostart", ownField<&CtrlSettings::autostart>),
        flagKey("LoadSaveDacsWithPixCfg", ownField<&CtrlSettings::loadSaveDacsWithPixCfg>),
        intKey("FileOutputMode", ownField<&CtrlSettings::fileOutputMode>, 0, 6),
        intKey("FiltOutputMode", ownField<&CtrlSettings::filtOutputMode>, 0, 6),
        flagKey("RawOutput", ownField<&CtrlSettings::rawOutput>),
        textKey("FilterChain", ownField<&CtrlSettings::filterChain>),
        intKey("Flags", ownField<&CtrlSettings::placementFlags>, INT_MIN, INT_MAX),
        intKey("ShowCmd", ownField<&CtrlSettings::showCmd>, 0, 11),
        intKey("Left", ownField<&CtrlSettings::left>, INT_MIN, INT_MAX),
        intKey("Top", ownField<&CtrlSettings::top>, INT_MIN, INT_MAX),
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
    // A text that an ini line cannot hold (a name pasted with a line break) is left out, so that it does
    // not cost every other setting; the others are written and the loss is reported.
    std::vector<std::pair<std::string, std::string>> kept;
    std::string dropped;
    for (auto& entry : entries()) {
        if (entry.second.find_first_of("\r\n") == std::string::npos)
            kept.push_back(std::move(entry));
        else
            dropped += (dropped.empty() ? "" : ", ") + entry.first;
    }
    if (const int rc = plat::iniWriteSection(iniPath, kSection, kept, errorText))
        return rc;
    if (dropped.empty())
        return 0;
    if (errorText)
        *errorText = "Not saved in \"" + iniPath + "\" (a line break, which an ini line cannot store): " + dropped;
    return -2;
}

int readAutostart(const std::string& iniPath)
{
    return plat::getProfileInt(kSection, "Autostart", 1, iniPath.c_str());
}
