#include "dac_tables.h"

#include <cmath>

namespace {

// Chip type 1 ("2.1"), 13 DACs of 8 bits.
const char* kNames1[] = {"DelayN", "Disc", "Preamp", "SetDisc", "THS", "IKrum", "ABuffer",
                         "THH", "THL", "FBK", "GND", "BiasLVDS", "RefLVDS"};
const int kBits1[] = {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
const int kSense1[] = {1, 2, 3, 4, 5, 7, 14, 12, 11, 10, 13, 6, 9};
const uint16_t kDefaults1[] = {0, 0, 128, 240, 110, 210, 255, 0, 200, 255, 128, 128, 128};

// Chip type 2 (ZRN), 15 DACs.
const char* kNames2[] = {"IKrum", "Disc", "Preamp", "BuffAnalogA", "BuffAnalogB", "DelayN", "THL", "THLCoarse",
                         "THH", "THHCoarse", "FBK", "GND", "THS", "BiasLVDS", "RefLVDS"};
const int kBits2[] = {8, 8, 8, 8, 8, 8, 10, 4, 10, 4, 8, 8, 8, 8, 8};
const int kSense2[] = {15, 11, 7, 3, 4, 9, 6, 6, 12, 12, 10, 13, 1, 2, 14};
const uint16_t kDefaults2[] = {20, 128, 128, 128, 128, 128, 450, 7, 0, 0, 128, 128, 128, 240, 240};

// Chip type 3 (Sarnet), 14 DACs.
const char* kNames3[] = {"IKrum", "Disc", "Preamp", "BuffAnalogA", "BuffAnalogB", "Hist", "THL",
                         "THLCoarse", "Vcas", "FBK", "GND", "THS", "BiasLVDS", "RefLVDS"};
const int kBits3[] = {8, 8, 8, 8, 8, 8, 10, 4, 8, 8, 8, 8, 8, 8};
const int kSense3[] = {15, 11, 7, 3, 4, 9, 6, 6, 12, 10, 13, 1, 2, 14};
const uint16_t kDefaults3[] = {5, 127, 255, 127, 127, 0, 450, 7, 130, 128, 80, 85, 128, 128};

// The defaults are the same for both polarities; each polarity still has its own set.
const DacSet kSets[] = {
    {1, 13, kNames1, kBits1, kSense1, kDefaults1, kDefaults1, 8, 7},
    {2, 15, kNames2, kBits2, kSense2, kDefaults2, kDefaults2, 6, 8},
    {3, 14, kNames3, kBits3, kSense3, kDefaults3, kDefaults3, 6, -1},
};

} // namespace

const DacSet* dacSetForChipType(int chipType)
{
    for (const DacSet& set : kSets)
        if (set.chipType == chipType)
            return &set;
    return nullptr;
}

bool dacValueFits(const DacSet& set, int dac, int value)
{
    return dac >= 0 && dac < set.count && value >= 0 && value < (1 << set.bits[dac]);
}

uint16_t dacFromReal(double value, int bits)
{
    const double max = static_cast<double>((1u << bits) - 1u);
    const double rounded = value + 0.5;
    if (!(rounded >= 1.0)) // also NaN
        return 0;
    if (rounded >= max)
        return static_cast<uint16_t>(max);
    return static_cast<uint16_t>(std::trunc(rounded));
}

void deriveFromReference(uint16_t* dacs, int chips, const DacSet& set, int dac, int refChip, const double* pairs)
{
    const int bits = set.bits[dac];
    auto at = [&](int chip) -> uint16_t& { return dacs[chip * set.count + dac]; };
    double x0 = at(0);
    if (refChip > 0) {
        const double gain = pairs[(refChip - 1) * 2];
        const double offset = pairs[(refChip - 1) * 2 + 1];
        if (gain != 0.0) {
            x0 = (at(refChip) - offset) / gain;
            at(0) = dacFromReal(x0, bits);
        }
    }
    for (int chip = 1; chip < chips; ++chip)
        at(chip) = dacFromReal(pairs[(chip - 1) * 2] * x0 + pairs[(chip - 1) * 2 + 1], bits);
}
