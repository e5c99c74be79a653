// One configuration of a device: acquisition settings, the DACs of every chip and the pixel configuration.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

constexpr uint32_t kChipPixels = 65536; // 256 x 256 pixels per chip

// Whether mode is exactly one of the modes (_AcqModes bits) in supported.
inline bool isSupportedAcqMode(int mode, uint32_t supported)
{
    return mode > 0 && (mode & (mode - 1)) == 0 && (static_cast<uint32_t>(mode) & supported) != 0;
}

// Pixel byte after a reset: counting, no test pulses, all adjustment bits set; chip type 3 keeps bits 6-7
// (the pixel mode) cleared.
uint8_t pixelResetValue(int chipType);

// Not copyable as a whole: callers copy the arrays they need. The scalar settings are atomics because the
// getters read them without the device lock; everything else is changed under the device lock.
struct DeviceSettings {
    int32_t hasPixelCfg = 1;
    int32_t chipType = -1;
    int32_t chips = 0;
    std::atomic<int32_t> polarity{-1};    // 0 negative, 1 positive
    std::atomic<int32_t> cst{-1};
    std::atomic<int32_t> acqMode{-1};     // _AcqModes
    std::atomic<int32_t> hwTimer{-1};     // 0 use the hardware timer, 1 do not, 2 automatic
    std::atomic<int32_t> extDacIndex{-1}; // chip DAC driven by the external DAC, -1 none
    double extDacValue = 0.0;
    std::vector<uint16_t> dacs;    // chips x DAC count, chip after chip
    std::vector<uint8_t> pixelCfg; // chips x 65536, chip after chip

    // Sizes both arrays for chips of type; -1 (no arrays) for a type other than 1, 2 or 3.
    // Throws std::bad_alloc.
    int size(int chipCount, int type);
    int dacValueCount() const { return static_cast<int>(dacs.size()); }
    // Copies the other record's pixel bytes, re-sizing to its chip count first.
    void copyPixelCfgFrom(const DeviceSettings& other);
    // Resets one chip's pixel bytes, or all for chip -1.
    void resetPixelCfg(int chip);
};
