// Poisson-distributed counts for the simulated read-out. Each simulated device owns one sampler: its
// own Mersenne Twister and its own caches of the per-mean constants, so devices never share state and
// may be read out from different threads at once.
#pragma once

#include <cstdint>
#include <random>

namespace hwdummy {

// Largest mean the read-out hands to the sampler (larger products are limited to it first).
constexpr uint32_t kMaxPoissonMean = 1999999999u;

// ln(n!): a table of running sums below 1024 (built once per process, read-only afterwards), Stirling's
// series above.
double lnFactorial(uint32_t n);

class PoissonSampler {
public:
    explicit PoissonSampler(uint32_t seed) : rng_(seed) {}

    // Uniform deviate 0 <= u < 1: the generator's 32-bit output divided by 2^32.
    double uniform() { return static_cast<double>(rng_()) * (1.0 / 4294967296.0); }

    // One sample with the given mean. A mean that is not above 0 (or NaN) gives 0; a mean above
    // kMaxPoissonMean is limited to it.
    uint32_t sample(double mean);

private:
    uint32_t sampleTinyMean(double mean);
    uint32_t sampleByInversion(double mean);
    uint32_t sampleByRatioOfUniforms(double mean);

    std::mt19937 rng_; // 32-bit MT19937, seeded like the published reference (init_genrand)

    // Inversion: exp(-mean) of the last mean.
    double inversionMean_ = -1.0;
    double inversionF0_ = 0.0;

    // Ratio of uniforms: the constants of the last mean.
    double ratioMean_ = -1.0;
    double ratioA_ = 0.0;     // mean + 0.5
    double ratioLnMean_ = 0.0;
    double ratioF0_ = 0.0;    // mode x ln(mean) - ln(mode!)
    double ratioH_ = 0.0;     // width of the hat
    double ratioBound_ = 0.0; // samples at or above this are rejected
};

} // namespace hwdummy
