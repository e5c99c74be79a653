#include "probe_settings.h"

#include <optional>
#include <vector>

#include "platform/ini.h"
#include "platform/numbers.h"

namespace probing {

namespace {

template <class T>
struct IntKey {
    const char* name;
    int T::*member;
};
template <class T>
struct DoubleKey {
    const char* name;
    double T::*member;
};
template <class T>
struct TextKey {
    const char* name;
    std::string T::*member;
};

// The keys of one section, in the order they are written.
template <class T>
struct Keys {
    std::vector<IntKey<T>> ints;
    std::vector<DoubleKey<T>> doubles;
    std::vector<TextKey<T>> texts;
};

const Keys<ChipTestSettings>& chipKeys()
{
    using C = ChipTestSettings;
    static const Keys<C> keys{
        {{"ShowPreview", &C::showPreview},
         {"ShowDepScan", &C::showDepScan},
         {"PulseCount", &C::pulseCount},
         {"AninBadLimit", &C::aninBadLimit},
         {"AninNoisyLimit", &C::aninNoisyLimit},
         {"AninAnalScanStep", &C::aninAnalScanStep},
         {"AninAnalScanStepZRN", &C::aninAnalScanStepZRN},
         {"DepScanStep", &C::depScanStep},
         {"DepSetDacsDef", &C::depSetDacsDef},
         {"BadColsA", &C::badColsA},
         {"BadColsB", &C::badColsB},
         {"BadColsC", &C::badColsC},
         {"BadColsD", &C::badColsD},
         {"BadPixsA", &C::badPixsA},
         {"BadPixsB", &C::badPixsB},
         {"BadPixsC", &C::badPixsC},
         {"BadPixsD", &C::badPixsD},
         {"BadColPixCount", &C::badColPixCount}},
        {{"PulseHeight", &C::pulseHeight}, {"PulsePeriod", &C::pulsePeriod}},
        {{"OutputDir", &C::outputDir}}};
    return keys;
}

const Keys<StationSettings>& stationKeys()
{
    using S = StationSettings;
    static const Keys<S> keys{{{"DieWidth2.1", &S::dieWidth21},
                               {"DieHeight2.1", &S::dieHeight21},
                               {"DieWidthZRN", &S::dieWidthZRN},
                               {"DieHeightZRN", &S::dieHeightZRN},
                               {"DieWidthSarnet", &S::dieWidthSarnet},
                               {"DieHeightSarnet", &S::dieHeightSarnet},
                               {"ShowVerifyDlg", &S::showVerifyDlg},
                               {"ShowChipClass", &S::showChipClass},
                               {"ShowMeasCurrent", &S::showMeasCurrent},
                               {"Feedback", &S::feedback},
                               {"UpDownCount", &S::upDownCount},
                               {"MaxOvdSteps", &S::maxOvdSteps},
                               {"CurrentCondition", &S::currentCondition},
                               {"FixedOvdCount", &S::fixedOvdCount},
                               {"WaferType", &S::waferType},
                               {"DirReversed", &S::dirReversed},
                               {"COMBaud", &S::comBaud},
                               {"COMTimeout", &S::comTimeout},
                               {"GpibVDDA", &S::gpibVDDA},
                               {"GpibVDDD", &S::gpibVDDD},
                               {"WaferCols", &S::waferCols},
                               {"WaferRows", &S::waferRows}},
                              {},
                              {{"COMPort", &S::comPort}, {"TraceFile", &S::traceFile}, {"VisaLibrary", &S::visaLibrary}}};
    return keys;
}

template <class T>
bool setKey(T& s, const Keys<T>& keys, const std::string& key, const std::string& text)
{
    for (const auto& k : keys.ints)
        if (key == k.name) {
            const auto v = plat::parseInt32(text);
            if (v)
                s.*k.member = *v;
            return v.has_value();
        }
    for (const auto& k : keys.doubles)
        if (key == k.name) {
            const auto v = plat::parseDouble(text);
            if (v)
                s.*k.member = *v;
            return v.has_value();
        }
    for (const auto& k : keys.texts)
        if (key == k.name) {
            s.*k.member = text;
            return true;
        }
    return false;
}

template <class T>
std::vector<std::pair<std::string, std::string>> entriesOf(const T& s, const Keys<T>& keys)
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& k : keys.texts)
        entries.emplace_back(k.name, s.*k.member);
    for (const auto& k : keys.ints)
        entries.emplace_back(k.name, std::to_string(s.*k.member));
    for (const auto& k : keys.doubles)
        entries.emplace_back(k.name, plat::formatGeneral(s.*k.member, 5));
    return entries;
}

template <class T>
void loadKeys(T& s, const Keys<T>& keys, const char* section, const std::string& file)
{
    for (const auto& [key, value] : entriesOf(s, keys))
        if (const auto text = plat::iniRead(file, section, key))
            setKey(s, keys, key, *text);
}

template <class T>
int saveKeys(const T& s, const Keys<T>& keys, const char* section, const std::string& file)
{
    for (const auto& [key, value] : entriesOf(s, keys))
        if (const int rc = plat::writeProfileString(section, key.c_str(), value.c_str(), file.c_str()))
            return rc;
    return 0;
}

} // namespace

void ChipTestSettings::load(const std::string& iniFile) { loadKeys(*this, chipKeys(), "Settings", iniFile); }
int ChipTestSettings::save(const std::string& iniFile) const
{
    return saveKeys(*this, chipKeys(), "Settings", iniFile);
}

std::vector<std::pair<std::string, std::string>> ChipTestSettings::entries() const { return entriesOf(*this, chipKeys()); }
bool ChipTestSettings::set(const std::string& key, const std::string& text) { return setKey(*this, chipKeys(), key, text); }
std::vector<std::pair<std::string, std::string>> StationSettings::entries() const { return entriesOf(*this, stationKeys()); }
bool StationSettings::set(const std::string& key, const std::string& text) { return setKey(*this, stationKeys(), key, text); }

void StationSettings::load(const std::string& iniFile) { loadKeys(*this, stationKeys(), "ProbingStation", iniFile); }
int StationSettings::save(const std::string& iniFile) const
{
    return saveKeys(*this, stationKeys(), "ProbingStation", iniFile);
}

} // namespace probing
