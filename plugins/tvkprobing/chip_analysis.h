// Evaluation of one chip's test frames: 256 x 256 counts, rows of 256, so that a pixel's column is its
// index modulo 256. A column is bad when at least "BadColPixCount" of its pixels are bad (reached, not
// exceeded).
#pragma once

#include <cstdint>

#include "probe_settings.h"

namespace probing {

constexpr int kChipSide = 256;
constexpr int kChipPixels = kChipSide * kChipSide;
constexpr int kNoClass = 5; // the class of a chip whose test did not reach the classification

struct DigitalResult {
    int badPixels = 0;  // pixels with a nonzero count
    int badColumns = 0;
};

struct AninResult {
    int dead = 0;       // count 0
    int low = 0;        // 0 < count < "AninBadLimit"
    int noisy = 0;      // count > "AninNoisyLimit"
    int badColumns = 0; // columns with enough pixels out of range (dead ones included)
};

DigitalResult analyseDigital(const int16_t* chip, int badColPixCount);

// Whether an ANIN count lies within "AninBadLimit" .. "AninNoisyLimit" (both ends in range).
inline bool aninInRange(int count, const ChipTestSettings& s)
{
    return count >= s.aninBadLimit && count <= s.aninNoisyLimit;
}
AninResult analyseAnin(const int16_t* chip, const ChipTestSettings& s);

// The share of the pixels (count of them given) within the ANIN limits.
double aninShareInRange(const int16_t* counts, int pixels, const ChipTestSettings& s);

// The class 0 (A) .. 4 (E) from the digital and the ANIN counts of a chip: a pixel is bad when its
// digital count is nonzero or its ANIN count is out of range.
int classifyChip(const int16_t* digital, const int16_t* anin, const ChipTestSettings& s);
// The class from B bad columns and P bad pixels: the first of A, B, C that fits, E above the D limits,
// else D.
int classFor(int badColumns, int badPixels, const ChipTestSettings& s);

// 'A' .. 'E', 'X' for no class.
char classLetter(int chipClass);

} // namespace probing
