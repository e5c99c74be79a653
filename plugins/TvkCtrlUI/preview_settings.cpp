#include "preview_settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>
#include <optional>
#include <string_view>

#include "platform/ini.h"
#include "platform/numbers.h"

namespace {

constexpr const char* kSection = "Preview";

std::string lowered(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The integer at the start of the value, as GetPrivateProfileInt reads it.
std::optional<int> leadingInt(const std::string& value)
{
    std::string_view v = value;
    const auto n = plat::takeInt64(v);
    if (!n || *n < INT_MIN || *n > INT_MAX)
        return std::nullopt;
    return int(*n);
}

struct IntKey {
    const char* name;
    int PreviewSettings::*field;
    int lo, hi; // accepted range
};
struct DoubleKey {
    const char* name;
    double PreviewSettings::*field;
};

// Every key in table order: an int or a double key, never both.
struct Key {
    IntKey i;
    DoubleKey d;
};

constexpr int kAny = INT_MAX;
const Key kKeys[] = {
    {{"Visible", &PreviewSettings::visible, 0, 1}, {}},
    {{"CountRate", &PreviewSettings::countRate, 0, 1}, {}},
    {{"AutoRange", &PreviewSettings::autoRange, 0, 1}, {}},
    {{"AutoRangeType", &PreviewSettings::autoRangeType, 0, 2}, {}},
    {{"MinSliderLocked", &PreviewSettings::minSliderLocked, 0, 1}, {}},
    {{"MaxSliderLocked", &PreviewSettings::maxSliderLocked, 0, 1}, {}},
    {{"ShowHistogram", &PreviewSettings::showHistogram, 0, 1}, {}},
    {{"HistAutoRange", &PreviewSettings::histAutoRange, -kAny, kAny}, {}},
    {{"HistRefine", &PreviewSettings::histRefine, 0, 1}, {}},
    {{"UnderRangeWarning", &PreviewSettings::underRangeWarning, 0, 1}, {}},
    {{"OverRangeWarning", &PreviewSettings::overRangeWarning, 0, 1}, {}},
    {{"LoadFrameRange", &PreviewSettings::loadFrameRange, 0, 1}, {}},
    {{"SaveFrameRange", &PreviewSettings::saveFrameRange, 0, 1}, {}},
    {{"IgnoreMasked", &PreviewSettings::ignoreMasked, 0, 1}, {}},
    {{"SaveImageFlags", &PreviewSettings::saveImageFlags, 0, 7}, {}},
    {{"SaveImageSize", &PreviewSettings::saveImageSize, 0, 3}, {}},
    {{"SaveImageWidth", &PreviewSettings::saveImageWidth, 1, 16384}, {}},
    {{"SaveImageHeight", &PreviewSettings::saveImageHeight, 1, 16384}, {}},
    {{"AutoUpdate", &PreviewSettings::autoUpdate, 0, 1}, {}},
    {{"ColorMap", &PreviewSettings::colorMap, 0, 3}, {}},
    {{}, {"Min", &PreviewSettings::min}},
    {{}, {"Max", &PreviewSettings::max}},
    {{"Mirror", &PreviewSettings::mirror, 0, 1}, {}},
    {{"Rotation", &PreviewSettings::rotation, 0, 270}, {}},
    {{"InterpolateImage", &PreviewSettings::interpolateImage, 0, 1}, {}},
    {{"ShowGrid", &PreviewSettings::showGrid, 0, 1}, {}},
    {{"MaxAutoUpdateMode", &PreviewSettings::maxAutoUpdateMode, 0, 5}, {}},
    {{}, {"MaskPixVal", &PreviewSettings::maskPixVal}},
    {{}, {"ThlShiftPixVal", &PreviewSettings::thlShiftPixVal}},
    {{"Flags", &PreviewSettings::placementFlags, -kAny, kAny}, {}},
    {{"ShowCmd", &PreviewSettings::showCmd, 0, 11}, {}},
    {{"Left", &PreviewSettings::left, -kAny, kAny}, {}},
    {{"Top", &PreviewSettings::top, -kAny, kAny}, {}},
    {{"Right", &PreviewSettings::right, -kAny, kAny}, {}},
    {{"Bottom", &PreviewSettings::bottom, -kAny, kAny}, {}},
};

} // namespace

void PreviewSettings::load(const std::string& iniPath)
{
    *this = PreviewSettings{};
    if (iniPath.empty())
        return;
    std::map<std::string, std::string> values; // lower-case key -> value, the first of a name wins
    for (auto& [k, v] : plat::iniSectionEntries(iniPath, kSection))
        values.emplace(lowered(k), v);
    int edges = 0;
    int levels = 0;
    for (const Key& key : kKeys) {
        const char* name = key.i.name ? key.i.name : key.d.name;
        const auto it = values.find(lowered(name));
        if (it == values.end())
            continue;
        if (key.i.name) {
            const auto n = leadingInt(it->second);
            if (!n || *n < key.i.lo || *n > key.i.hi)
                continue;
            if (key.i.field == &PreviewSettings::rotation && *n % 90 != 0)
                continue;
            this->*key.i.field = *n;
            edges += key.i.field == &PreviewSettings::left || key.i.field == &PreviewSettings::top ||
                     key.i.field == &PreviewSettings::right || key.i.field == &PreviewSettings::bottom;
        } else {
            std::string_view v = it->second;
            if (const auto d = plat::takeDouble(v)) {
                this->*key.d.field = *d;
                levels += key.d.field == &PreviewSettings::min || key.d.field == &PreviewSettings::max;
            }
        }
    }
    hasPlacement = edges == 4 && right > left && bottom > top;
    levelsGiven = levels == 2 && max > min;
}

std::vector<std::pair<std::string, std::string>> PreviewSettings::entries() const
{
    std::vector<std::pair<std::string, std::string>> out;
    out.reserve(std::size(kKeys));
    for (const Key& key : kKeys) {
        if (key.i.name)
            out.emplace_back(key.i.name, std::to_string(this->*key.i.field));
        else
            out.emplace_back(key.d.name, plat::formatDouble(this->*key.d.field));
    }
    return out;
}

int PreviewSettings::save(const std::string& iniPath, std::string* errorText) const
{
    if (iniPath.empty())
        return 0;
    return plat::iniWriteSection(iniPath, kSection, entries(), errorText);
}
