#include "detector_model.h"

#include <algorithm>
#include <cmath>

namespace hwmodel {

namespace {

// The chips' DAC layouts, as the hardware orders them: widths and sense codes per DAC.
const int kBits1[] = {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
const int kSense1[] = {1, 2, 3, 4, 5, 7, 14, 12, 11, 10, 13, 6, 9};
const int kBits2[] = {8, 8, 8, 8, 8, 8, 10, 4, 10, 4, 8, 8, 8, 8, 8};
const int kSense2[] = {15, 11, 7, 3, 4, 9, 6, 6, 12, 12, 10, 13, 1, 2, 14};
const int kBits3[] = {8, 8, 8, 8, 8, 8, 10, 4, 8, 8, 8, 8, 8, 8};
const int kSense3[] = {15, 11, 7, 3, 4, 9, 6, 6, 12, 10, 13, 1, 2, 14};

template <size_t N>
ModelDacs layout(const int (&bits)[N], const int (&sense)[N], int thl, int thh)
{
    return {static_cast<int>(N), thl, thh, std::vector<int>(bits, bits + N), std::vector<int>(sense, sense + N)};
}

double normalCdf(double x)
{
    return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

} // namespace

ModelDacs modelDacsFor(int chipType)
{
    switch (chipType) {
    case 1: return layout(kBits1, kSense1, 8, 7);
    case 2: return layout(kBits2, kSense2, 6, 8);
    case 3: return layout(kBits3, kSense3, 6, -1);
    default: return {};
    }
}

DetectorModel::DetectorModel(const ModelParams& params)
    : params_(params),
      dacs_(modelDacsFor(params.chipType)),
      counterMax_(params.chipType == 1 ? 8000 : 11810),
      rng_(params.seed)
{
    const uint32_t n = pixelCount();
    thlOffset_.resize(n);
    thhOffset_.resize(n);
    dead_.assign(n, 0);
    std::normal_distribution<double> offset(0.0, params_.offsetSigma);
    for (uint32_t j = 0; j < n; ++j) {
        thlOffset_[j] = static_cast<float>(offset(rng_));
        thhOffset_[j] = static_cast<float>(offset(rng_));
    }
    const int deadPerChip = std::clamp(params_.dead, 0, static_cast<int>(kChipPixels));
    std::uniform_int_distribution<uint32_t> where(0, kChipPixels - 1);
    for (int chip = 0; chip < params_.chips; ++chip)
        for (int k = 0; k < deadPerChip;) {
            uint8_t& d = dead_[chip * kChipPixels + where(rng_)];
            if (!d) {
                d = 1;
                ++k;
            }
        }
}

double DetectorModel::thlEdge(uint32_t pixel, uint8_t cfg) const
{
    const int range = 1 << dacs_.bits[static_cast<size_t>(dacs_.thl)];
    const int adjustment = (cfg >> 2) & (params_.chipType == 3 ? 15 : 7);
    const int chip = static_cast<int>(pixel / kChipPixels);
    return range / 2 + 4 * chip + thlOffset_[pixel] - params_.adjGain * adjustment;
}

double DetectorModel::thhEdge(uint32_t pixel, uint8_t cfg) const
{
    if (dacs_.thh < 0)
        return 0.0;
    const int range = 1 << dacs_.bits[static_cast<size_t>(dacs_.thh)];
    const int adjustment = (cfg >> 5) & 7;
    const int chip = static_cast<int>(pixel / kChipPixels);
    return range / 4 + 4 * chip + thhOffset_[pixel] - params_.adjGain * adjustment;
}

double DetectorModel::responseDistance(uint32_t pixel, uint8_t cfg, const Thresholds& t, double* thhDistance) const
{
    // The effective polarity: inverted on chip types 2 and 3.
    const bool p = t.polarity != (params_.chipType != 1);
    const size_t chipBase = static_cast<size_t>(pixel / kChipPixels) * static_cast<size_t>(dacs_.count);
    const double thl = t.dacs[chipBase + static_cast<size_t>(dacs_.thl)];
    const double dl = p ? thl - thlEdge(pixel, cfg) : thlEdge(pixel, cfg) - thl;
    *thhDistance = HUGE_VAL;
    if (dacs_.thh >= 0) {
        const double thh = t.dacs[chipBase + static_cast<size_t>(dacs_.thh)];
        if (thh != 0.0)
            *thhDistance = p ? thhEdge(pixel, cfg) - thh : thh - thhEdge(pixel, cfg);
    }
    return dl;
}

void DetectorModel::add(uint16_t* counts, uint32_t pixel, double expected, bool binomial, uint32_t trials)
{
    double value = expected;
    if (params_.poisson && expected > 0.0) {
        if (binomial)
            value = std::binomial_distribution<uint32_t>(trials, std::min(1.0, expected / trials))(rng_);
        else
            value = std::poisson_distribution<uint32_t>(expected)(rng_);
    } else {
        value = std::floor(expected + 0.5);
    }
    const double sum = counts[pixel] + value;
    counts[pixel] = static_cast<uint16_t>(std::min(sum, static_cast<double>(counterMax_)));
}

void DetectorModel::expose(const uint8_t* cfg, const Thresholds& t, uint16_t* counts)
{
    const double w2 = 2.0 * params_.noiseWidth * params_.noiseWidth;
    for (uint32_t j = 0; j < pixelCount(); ++j) {
        if (!(cfg[j] & 1) || dead_[j])
            continue;
        double dh = 0.0;
        const double dl = responseDistance(j, cfg[j], t, &dh);
        const double d = std::min(std::abs(dl), std::abs(dh));
        const double expected = kNoisePeak * std::exp(-d * d / w2);
        if (expected >= 0.5 || params_.poisson)
            add(counts, j, expected, false, 0);
    }
}

void DetectorModel::pulse(const uint8_t* cfg, const Thresholds& t, double height, uint32_t count, uint16_t* counts)
{
    const double h = height * kCodesPerVolt;
    const bool byColumns = params_.chipType != 1;
    for (uint32_t j = 0; j < pixelCount(); ++j) {
        if (!(cfg[j] & 1) || (cfg[j] & 2) || dead_[j])
            continue;
        if (byColumns && !(t.testPulseColumns & (1u << (j % kChipSide % 32))))
            continue;
        double dh = 0.0;
        const double dl = responseDistance(j, cfg[j], t, &dh);
        const double reach = std::max(normalCdf((h - dl) / params_.noiseWidth),
                                      dh == HUGE_VAL ? 0.0 : normalCdf((h - dh) / params_.noiseWidth));
        add(counts, j, reach * count, true, count);
    }
}

double DetectorModel::senseVolts(int dac, uint16_t value) const
{
    const int full = (1 << dacs_.bits[static_cast<size_t>(dac)]) - 1;
    return value * kSenseFullScale / full;
}

} // namespace hwmodel
