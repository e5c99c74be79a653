// DAC sets of the three chip types and the derivation of the other chips' thresholds from a reference chip.
#pragma once

#include <cstdint>

struct DacSet {
    int chipType;
    int count;                       // DACs per chip
    const char** names;              // names used in files and shown to the user
    const int* bits;                 // widths in bits
    const int* senseCodes;           // selects the DAC's analog output on the chip's sense line
    const uint16_t* defaultsPositive;
    const uint16_t* defaultsNegative;
    int thlIndex;                    // low threshold, derived from coefficient set 1
    int thhIndex;                    // high threshold, derived from set 2; -1 when the type has none

    const uint16_t* defaults(bool positive) const { return positive ? defaultsPositive : defaultsNegative; }
};

// The set of chip type 1, 2 or 3; null for any other type.
const DacSet* dacSetForChipType(int chipType);

// Whether value fits DAC dac of the set (0 to 2^bits - 1).
bool dacValueFits(const DacSet& set, int dac, int value);

// A real DAC value rounded half up and clamped to the DAC's range (NaN gives 0).
uint16_t dacFromReal(double value, int bits);

// Derives DAC `dac` of chips 1..chips-1 from the reference chip: dacs holds chips rows of set.count values,
// pairs holds chips - 1 pairs {gain, offset}, one per chip 1..chips-1. With a reference chip other than 0
// whose gain is not 0, chip 0's value is first recovered from the reference chip's. Results are clamped to
// the DAC's range.
void deriveFromReference(uint16_t* dacs, int chips, const DacSet& set, int dac, int refChip, const double* pairs);
