// The external test pulser: hwlibs/hpPulser.so under the application folder, opened at its first use. When
// the file or one of its functions is missing, the pulser stays unavailable for the session and the
// threshold equalization types that need it are refused.
#pragma once

#include <mutex>
#include <string>

#include "platform/module.h"
#include "th_equalization.h"
#include "tvk_mgr.h"
#include "tvk_pulser.h"

namespace equalizer {

// The pulser library, relative to the application folder.
inline constexpr char kPulserLibrary[] = "hwlibs/hpPulser.so";

class ExternalPulser {
public:
    // The table only serves to log; appFolder is where hwlibs/ lies.
    ExternalPulser(const _MgrFuncTable* table, std::string appFolder);
    ExternalPulser(const ExternalPulser&) = delete;
    ExternalPulser& operator=(const ExternalPulser&) = delete;

    // Opens the library on the first call, logging "External test pulser library hwlibs/hpPulser.so is not
    // available: <reason>." once when it cannot.
    bool available();
    int prepare(unsigned devId, int phase, int spacing);
    int setPulseCount(unsigned pulses);
    int getSettings(std::string* text);
    int setSettings(const std::string& text);

private:
    const _MgrFuncTable* table_;
    std::string folder_;
    // Guards the first opening: tried_, ready_, module_ and the four functions are written only then, under it,
    // and read after available() returned true. The log line of a failed opening is written while it is held.
    std::mutex mutex_;
    bool tried_ = false;
    bool ready_ = false;
    plat::Module module_;
    HppPrepareTestPulsesFn prepare_ = nullptr;
    HppSetPulseCountFn setCount_ = nullptr;
    HppGetSettingsFn getSettings_ = nullptr;
    HppSetSettingsFn setSettings_ = nullptr;
};

// configure() of the equalization, refusing the external pulser types (7, 12) when the pulser is not
// available; for them the pulser is prepared before each phase with the settings' pulse count and spacing.
// why (when given) says what was refused.
int configureEqualization(ThEqualization& eq, ExternalPulser& pulser, unsigned devId,
                          const EqualizationSettings& settings, int type, bool twoLevel, int first, int second,
                          int step, std::string* why = nullptr);

} // namespace equalizer
