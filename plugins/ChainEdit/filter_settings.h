// The settings of the six filters with instances, with their defaults, and the constant tables through
// which the manager reads and writes them (row index = parameter index).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "instance_registry.h"

namespace chainedit {

struct SaveSettings {
    static constexpr const char* kName = "Save";
    std::string path = "./files/";
    uint32_t mode = 0; // 0 full matrix, 1 sparse [index, value], 2 sparse [x, y, value]
    int32_t binary = 0;
    uint32_t pixelsOverThreshold = 0;
    double threshold = 0;
    static std::span<const ParamRow<SaveSettings>> rows();
};

struct CropSettings {
    static constexpr const char* kName = "Crop";
    int32_t left = 1;
    int32_t bottom = 1;
    int32_t width = 100;
    int32_t height = 100;
    static std::span<const ParamRow<CropSettings>> rows();
};

struct CountsToTimeSettings {
    static constexpr const char* kName = "Sarnet counts to time";
    uint32_t deviceId = 0;
    double clockMHz = 0; // 0: the device's clock
    static std::span<const ParamRow<CountsToTimeSettings>> rows();
};

// The four coefficient matrices as doubles, with the paths they were read from.
struct SrnCoefficients {
    std::string paths[4];
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<double> values[4]; // a, b, c, t
};

struct SrnSettings {
    static constexpr const char* kName = "Srn calibration";
    std::string pathA, pathB, pathC, pathT;
    // What the last run loaded; used again while the paths stay the same. Shared by copies of the settings.
    std::shared_ptr<const SrnCoefficients> loaded;
    static std::span<const ParamRow<SrnSettings>> rows();
};

struct StatisticsSettings {
    static constexpr const char* kName = "Frame statistics";
    int32_t writeRecordIndex = 1;
    int32_t writeTimeStamp = 1;
    int32_t writeMean = 1;
    int32_t writeTotal = 1;
    int32_t writePixelCounts = 0;
    int32_t writePixelPositions = 0;
    uint32_t recordIndex = 0;
    double invalidValue = -1;
    std::string outputPath = "./files/framestat.txt";
    static std::span<const ParamRow<StatisticsSettings>> rows();
};

struct MaskSettings {
    static constexpr const char* kName = "Tarvik mask";
    uint32_t deviceId = 0;
    double maskedValue = 0;
    static std::span<const ParamRow<MaskSettings>> rows();
};

} // namespace chainedit
