#include "chip_analysis.h"

#include <array>

namespace probing {

namespace {

// Counts per column the pixels that isBad picks and returns the number of bad columns.
template <class IsBad>
int badColumnsOf(int badColPixCount, IsBad isBad, int* badPixels)
{
    std::array<int, kChipSide> perColumn{};
    int total = 0;
    for (int i = 0; i < kChipPixels; ++i)
        if (isBad(i)) {
            ++perColumn[static_cast<size_t>(i % kChipSide)];
            ++total;
        }
    int columns = 0;
    for (int n : perColumn)
        if (n >= badColPixCount)
            ++columns;
    if (badPixels)
        *badPixels = total;
    return columns;
}

} // namespace

DigitalResult analyseDigital(const int16_t* chip, int badColPixCount)
{
    DigitalResult r;
    r.badColumns = badColumnsOf(badColPixCount, [chip](int i) { return chip[i] != 0; }, &r.badPixels);
    return r;
}

AninResult analyseAnin(const int16_t* chip, const ChipTestSettings& s)
{
    AninResult r;
    for (int i = 0; i < kChipPixels; ++i) {
        const int c = chip[i];
        if (c == 0)
            ++r.dead;
        else if (c < s.aninBadLimit)
            ++r.low;
        else if (c > s.aninNoisyLimit)
            ++r.noisy;
    }
    r.badColumns = badColumnsOf(s.badColPixCount, [&](int i) { return !aninInRange(chip[i], s); }, nullptr);
    return r;
}

double aninShareInRange(const int16_t* counts, int pixels, const ChipTestSettings& s)
{
    if (pixels <= 0)
        return 0.0;
    int in = 0;
    for (int i = 0; i < pixels; ++i)
        if (aninInRange(counts[i], s))
            ++in;
    return static_cast<double>(in) / pixels;
}

int classFor(int badColumns, int badPixels, const ChipTestSettings& s)
{
    if (badColumns <= s.badColsA && badPixels <= s.badPixsA)
        return 0;
    if (badColumns <= s.badColsB && badPixels <= s.badPixsB)
        return 1;
    if (badColumns <= s.badColsC && badPixels <= s.badPixsC)
        return 2;
    if (badColumns > s.badColsD || badPixels > s.badPixsD)
        return 4;
    return 3;
}

int classifyChip(const int16_t* digital, const int16_t* anin, const ChipTestSettings& s)
{
    int badPixels = 0;
    const int badColumns = badColumnsOf(
        s.badColPixCount, [&](int i) { return digital[i] != 0 || !aninInRange(anin[i], s); }, &badPixels);
    return classFor(badColumns, badPixels, s);
}

char classLetter(int chipClass) { return chipClass >= 0 && chipClass < kNoClass ? static_cast<char>('A' + chipClass) : 'X'; }

} // namespace probing
