// The measurement settings of one device: their texts checked into values, and their file
// "<configs>PulseScan_<interface>_<chip-board id>.txt", section [Settings], through the ini layer.
#pragma once

#include <map>
#include <string>

#include "pulse_analysis.h"

inline constexpr const char* kBadValue = "Bad value";
inline constexpr const char* kBadFactor = "Bad value of resolution enhancement factor";
inline constexpr const char* kBadOverlap = "Bad value of cluster overlap decission level.";

// Keys of the settings, as the file and the window name them.
namespace pulsekey {
inline constexpr const char* BaselineOn = "BaselineOn";
inline constexpr const char* BaselineOffset = "BaselineOffset";
inline constexpr const char* ShapeHistory = "ShapeHistory";
inline constexpr const char* SpectrumScale = "SpectrumScale";
inline constexpr const char* ClusterThreshold = "ClusterThreshold";
inline constexpr const char* MinClusterSize = "MinClusterSize";
inline constexpr const char* MinRoundness = "MinRoundness";
inline constexpr const char* EnhanceFactor = "EnhanceFactor";
inline constexpr const char* OverlapLevel = "OverlapLevel";
} // namespace pulsekey

using PulseSettingTexts = std::map<std::string, std::string>;

struct PulseSettingsCheck {
    PulseSettings settings;
    std::string error; // empty: every value is good
    std::string key;   // the first bad one
};

// Checks the texts of the settings (a missing key keeps the value of base) for a frame of width x height
// (0 x 0: not known yet). The first bad value gives its message: the enhancement factor must lie in
// [1, 16] with enhanced images of at most 4096 x 4096 pixels, the overlap level in 0..65535, and the rest
// in their ranges ("Bad value").
PulseSettingsCheck checkPulseSettings(const PulseSettingTexts& texts, const PulseSettings& base, unsigned width,
                                      unsigned height);
PulseSettingTexts pulseSettingTexts(const PulseSettings& settings);

// "%s%s_%s_%s.txt" of the configuration folder, "PulseScan", the interface name and the chip-board id (at
// most its 64 characters).
std::string pulseSettingsPath(const std::string& configsDir, const char* interfaceName, const char* chipboardId,
                              size_t chipboardIdSize);

// The settings of the file; each missing or bad value keeps its default.
PulseSettings loadPulseSettings(const std::string& file);
// 0, or the ini layer's code with its message in error.
int savePulseSettings(const std::string& file, const PulseSettings& settings, std::string* error = nullptr);
