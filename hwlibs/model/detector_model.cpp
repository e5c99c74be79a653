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

// Phi(x), taken as 0 below -cut and 1 above cut.
double normalCdf(double x, double cut)
{
    if (x < -cut)
        return 0.0;
    if (x > cut)
        return 1.0;
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
    if (dacs_.thl >= 0)
        thlBase_ = (1 << dacs_.bits[static_cast<size_t>(dacs_.thl)]) / 2;
    if (dacs_.thh >= 0)
        thhBase_ = (1 << dacs_.bits[static_cast<size_t>(dacs_.thh)]) / 4;
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
    const int adjustment = (cfg >> 2) & (params_.chipType == 3 ? 15 : 7);
    const int chipBase = thlBase_ + 4 * static_cast<int>(pixel / kChipPixels);
    return chipBase + thlOffset_[pixel] - params_.adjGain * adjustment;
}

double DetectorModel::thhEdge(uint32_t pixel, uint8_t cfg) const
{
    if (dacs_.thh < 0)
        return 0.0;
    const int adjustment = (cfg >> 5) & 7;
    const int chipBase = thhBase_ + 4 * static_cast<int>(pixel / kChipPixels);
    return chipBase + thhOffset_[pixel] - params_.adjGain * adjustment;
}

DetectorModel::ChipThresholds DetectorModel::chipThresholds(uint32_t chip, const Thresholds& t) const
{
    const size_t at = static_cast<size_t>(chip) * static_cast<size_t>(dacs_.count);
    ChipThresholds c;
    // The effective polarity: inverted on chip types 2 and 3.
    c.p = t.polarity != (params_.chipType != 1);
    c.thl = t.dacs[at + static_cast<size_t>(dacs_.thl)];
    c.thh = dacs_.thh >= 0 ? t.dacs[at + static_cast<size_t>(dacs_.thh)] : 0.0;
    return c;
}

double DetectorModel::responseDistance(uint32_t pixel, uint8_t cfg, const ChipThresholds& c,
                                       double* thhDistance) const
{
    const double el = thlEdge(pixel, cfg);
    *thhDistance = HUGE_VAL;
    if (c.thh != 0.0) {
        const double eh = thhEdge(pixel, cfg);
        *thhDistance = c.p ? eh - c.thh : c.thh - eh;
    }
    return c.p ? c.thl - el : el - c.thl;
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
    // Beyond this squared distance an exact count rounds to 0 (and a Poisson sample is 0 but for one in
    // 10^12): most pixels of a sweep are far from their edge, and the exponential is the model's cost.
    const double silent = w2 * std::log(kNoisePeak / (params_.poisson ? 1e-12 : 0.5));
    ChipThresholds chip;
    for (uint32_t j = 0; j < pixelCount(); ++j) {
        if (j % kChipPixels == 0)
            chip = chipThresholds(j / kChipPixels, t);
        if (!(cfg[j] & 1) || dead_[j])
            continue;
        double dh = 0.0;
        const double dl = responseDistance(j, cfg[j], chip, &dh);
        const double d = std::min(std::abs(dl), std::abs(dh));
        if (d * d > silent)
            continue;
        const double expected = kNoisePeak * std::exp(-d * d / w2);
        if (expected >= 0.5 || params_.poisson)
            add(counts, j, expected, false, 0);
    }
}

void DetectorModel::pulse(const uint8_t* cfg, const Thresholds& t, double height, uint32_t count, uint16_t* counts)
{
    const double h = height * kCodesPerVolt;
    const bool byColumns = params_.chipType != 1;
    // Past 6 standard deviations an exact count of up to 65,535 pulses rounds to 0 or to all of them;
    // samples take the tails to 9 (1e-19). Most pixels of a sweep are that far from their edge, and erfc
    // is the model's cost.
    const double cut = params_.poisson ? 9.0 : 6.0;
    ChipThresholds chip;
    for (uint32_t j = 0; j < pixelCount(); ++j) {
        if (j % kChipPixels == 0)
            chip = chipThresholds(j / kChipPixels, t);
        if (!(cfg[j] & 1) || (cfg[j] & 2) || dead_[j])
            continue;
        if (byColumns && !(t.testPulseColumns & (1u << (j % kChipSide % 32))))
            continue;
        double dh = 0.0;
        const double dl = responseDistance(j, cfg[j], chip, &dh);
        const double reach = std::max(normalCdf((h - dl) / params_.noiseWidth, cut),
                                      dh == HUGE_VAL ? 0.0 : normalCdf((h - dh) / params_.noiseWidth, cut));
        if (reach <= 0.0)
            continue;
        add(counts, j, reach * count, true, count);
    }
}

double DetectorModel::senseVolts(int dac, uint16_t value) const
{
    const int full = (1 << dacs_.bits[static_cast<size_t>(dac)]) - 1;
    return value * kSenseFullScale / full;
}

} // namespace hwmodel
