// Poisson sampler: a tiny-mean shortcut, inversion by chop-down search below 17, and the ratio of
// uniforms with a table-based ln(n!) above.
#include "poisson.h"

#include <array>
#include <cmath>

namespace hwdummy {

namespace {

constexpr uint32_t kLnFacTableSize = 1024;

const std::array<double, kLnFacTableSize>& lnFacTable()
{
    // Thread-safe static initialisation: filled once, read-only afterwards.
    static const std::array<double, kLnFacTableSize> table = [] {
        std::array<double, kLnFacTableSize> t{};
        double sum = 0.0;
        for (uint32_t i = 2; i < kLnFacTableSize; ++i) {
            sum += std::log(static_cast<double>(i));
            t[i] = sum;
        }
        return t;
    }();
    return table;
}

constexpr double kTinyMean = 0.000001;
constexpr double kInversionLimit = 17.0;
constexpr int kInversionMaxX = 130;

// Hat constants of the ratio-of-uniforms method: 2 sqrt(2/e) and 3 - 2 sqrt(3/e).
constexpr double kHat1 = 2.9430355293715387;
constexpr double kHat2 = 0.8989161620588988;

} // namespace

double lnFactorial(uint32_t n)
{
    if (n <= 1)
        return 0.0;
    if (n < kLnFacTableSize)
        return lnFacTable()[n];
    const double x = static_cast<double>(n);
    const double r = 1.0 / x;
    return (x + 0.5) * std::log(x) - x + 0.9189385332046727 + r * (1.0 / 12.0 - r * r / 360.0);
}

uint32_t PoissonSampler::sample(double mean)
{
    if (!(mean > 0.0))
        return 0;
    if (mean > kMaxPoissonMean)
        mean = kMaxPoissonMean;
    if (mean < kTinyMean)
        return sampleTinyMean(mean);
    if (mean < kInversionLimit)
        return sampleByInversion(mean);
    return sampleByRatioOfUniforms(mean);
}

uint32_t PoissonSampler::sampleTinyMean(double mean)
{
    const double d = std::sqrt(mean);
    if (uniform() >= d)
        return 0;
    const double r = uniform() * d;
    if (r > mean * (1.0 - mean))
        return 0;
    if (r > 0.5 * mean * mean * (1.0 - mean))
        return 1;
    return 2;
}

uint32_t PoissonSampler::sampleByInversion(double mean)
{
    if (mean != inversionMean_) {
        inversionMean_ = mean;
        inversionF0_ = std::exp(-mean);
    }
    for (;;) {
        // Chop-down search; r is kept scaled by x! so that no division is needed.
        double r = uniform();
        double f = inversionF0_;
        for (int x = 0; x <= kInversionMaxX; ++x) {
            r -= f;
            if (r <= 0.0)
                return static_cast<uint32_t>(x);
            r *= x + 1;
            f *= mean;
        }
    }
}

uint32_t PoissonSampler::sampleByRatioOfUniforms(double mean)
{
    if (mean != ratioMean_) {
        ratioMean_ = mean;
        ratioA_ = mean + 0.5;
        ratioLnMean_ = std::log(mean);
        const auto mode = static_cast<uint32_t>(mean);
        ratioF0_ = mode * ratioLnMean_ - lnFactorial(mode);
        ratioH_ = std::sqrt(kHat1 * ratioA_) + kHat2;
        ratioBound_ = std::floor(ratioA_ + 6.0 * ratioH_);
    }
    for (;;) {
        const double u = uniform();
        if (u == 0.0)
            continue;
        const double x = ratioA_ + ratioH_ * (uniform() - 0.5) / u;
        if (x < 0.0 || x >= ratioBound_)
            continue;
        const auto k = static_cast<uint32_t>(x);
        const double lf = k * ratioLnMean_ - lnFactorial(k) - ratioF0_;
        if (lf >= u * (4.0 - u) - 3.0)
            return k; // quick acceptance
        if (u * (u - lf) > 1.0)
            continue; // quick rejection
        if (2.0 * std::log(u) <= lf)
            return k;
    }
}

} // namespace hwdummy
