// Poisson-distributed counts for the simulated read-out. Each simulated device owns one sampler: its
// own generator (xoshiro256++) and its own tables and caches of per-mean constants, so devices never
// share state and may be read out from different threads at once.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace hwdummy {

// Largest mean the read-out hands to the sampler (larger products are limited to it first).
constexpr uint32_t kMaxPoissonMean = 1999999999u;

// ln(n!): a table of running sums below 1024 (built once per process, read-only afterwards), Stirling's
// series above.
double lnFactorial(uint32_t n);

// xoshiro256++: 64-bit outputs, a period of 2^256 - 1; its state is filled from a seed by splitmix64.
class Xoshiro256 {
public:
    explicit Xoshiro256(uint64_t seed);
    uint64_t next()
    {
        const uint64_t result = rotl(s_[0] + s_[3], 23) + s_[0];
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

class PoissonSampler {
public:
    explicit PoissonSampler(uint32_t seed);
    ~PoissonSampler();
    PoissonSampler(const PoissonSampler&) = delete;
    PoissonSampler& operator=(const PoissonSampler&) = delete;

    // Uniform deviate 0 <= u < 1 with 53 random bits.
    double uniform() { return static_cast<double>(rng_.next() >> 11) * (1.0 / 9007199254740992.0); }

    // One sample with the given mean. A mean that is not above 0 (or NaN) gives 0; a mean above
    // kMaxPoissonMean is limited to it. Whole means take the path of sampleWhole.
    uint32_t sample(double mean);

    // One sample with a whole mean (the read-out's case): from a cumulative table with a guide table
    // where one exists or the mean recurs often enough to pay for one, else by transformed rejection.
    uint32_t sampleWhole(uint32_t mean);

private:
    struct Table;

    uint32_t sampleTinyMean(double mean);
    uint32_t sampleByInversion(double mean);
    uint32_t sampleByRejection(double mean);
    uint32_t sampleTable(const Table& table);
    uint32_t sampleCachedTable(uint32_t mean);

    Xoshiro256 rng_;

    // Inversion: exp(-mean) of the last mean.
    double inversionMean_ = -1.0;
    double inversionF0_ = 0.0;

    // Transformed rejection: the constants of the last mean (the logarithms only once a sample needs them).
    double rejectMean_ = -1.0;
    double rejectSqrt_ = 0.0, rejectA_ = 0.0, rejectB_ = 0.0, rejectInvAlpha_ = 0.0, rejectVr_ = 0.0;
    double rejectLogMean_ = 0.0, rejectLogInvAlpha_ = 0.0;
    bool rejectLogsReady_ = false;

    // Tables of the small means, built at their first use.
    static constexpr uint32_t kSmallMeans = 64;
    std::array<std::unique_ptr<Table>, kSmallMeans> smallTables_;

    // Tables of larger means in a small direct-mapped cache: a mean gets the table of its slot once it
    // came often enough in a row of that slot's visits to pay for building it, so an image of few levels
    // uses tables and one of many spread levels uses rejection without building any.
    static constexpr uint32_t kMaxTableMean = 65536;
    static constexpr uint32_t kSlots = 64;
    struct Slot {
        uint32_t tableMean = 0; // mean of the built table (0: none)
        uint32_t candidate = 0; // mean counted in hits
        uint32_t hits = 0;
        std::unique_ptr<Table> table;
    };
    std::array<Slot, kSlots> slots_;
};

} // namespace hwdummy
