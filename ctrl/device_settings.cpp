#include "device_settings.h"

#include <algorithm>

#include "dac_tables.h"

uint8_t pixelResetValue(int chipType)
{
    return chipType == 3 ? 0x3F : 0xFF;
}

int DeviceSettings::size(int chipCount, int type)
{
    dacs.clear();
    pixelCfg.clear();
    chips = chipCount;
    chipType = type;
    const DacSet* set = dacSetForChipType(type);
    if (!set || chipCount <= 0)
        return -1;
    dacs.assign(static_cast<size_t>(chipCount) * static_cast<size_t>(set->count), 0);
    if (hasPixelCfg)
        pixelCfg.assign(static_cast<size_t>(chipCount) * kChipPixels, pixelResetValue(type));
    return 0;
}

void DeviceSettings::copyPixelCfgFrom(const DeviceSettings& other)
{
    if (!hasPixelCfg)
        return;
    if (other.chips != chips)
        size(other.chips, chipType);
    pixelCfg = other.pixelCfg;
}

void DeviceSettings::resetPixelCfg(int chip)
{
    const uint8_t value = pixelResetValue(chipType);
    if (chip < 0) {
        std::fill(pixelCfg.begin(), pixelCfg.end(), value);
        return;
    }
    const size_t first = static_cast<size_t>(chip) * kChipPixels;
    if (first + kChipPixels <= pixelCfg.size())
        std::fill_n(pixelCfg.begin() + static_cast<std::ptrdiff_t>(first), kChipPixels, value);
}
