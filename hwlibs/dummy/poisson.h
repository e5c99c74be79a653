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

// ln(n!): a table of running sums below 4096 (built once per process, read-only afterwards), Stirling's
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
    // The table used last is sampled right here, so a flat image costs no call.
    uint32_t sampleWhole(uint32_t mean)
    {
        if (mean == 0)
            return 0;
        if (mean != lastTableMean_)
            return sampleWholeOtherTable(mean);
        const uint64_t u = rng_.next() >> 1;
        uint32_t k = lastGuide_[u >> lastGuideShift_];
        while (lastCdf_[k] <= u)
            ++k;
        return lastLo_ + k;
    }

private:
    struct Table;
    // The constants of the rejection method for one mean.
    struct Rejection {
        double mean = -1.0;
        double sqrtMean = 0, a = 0, b = 0, vr = 0, logMean = 0, logInvAlpha = 0, bound = 0;
        void set(double m);
    };

    uint32_t sampleWholeOtherTable(uint32_t mean);
    uint32_t sampleTinyMean(double mean);
    uint32_t sampleByInversion(double mean);
    uint32_t sampleByRejection(const Rejection& c);
    uint32_t sampleWholeByRejection(uint32_t mean);
    uint32_t sampleTable(const Table& table);
    uint32_t sampleCachedTable(uint32_t mean);

    Xoshiro256 rng_;

    // The table used last (its mean is 0 while there is none; any rebuild of a table replaces it here).
    uint32_t lastTableMean_ = 0;
    uint32_t lastLo_ = 0;
    int lastGuideShift_ = 0;
    const uint64_t* lastCdf_ = nullptr;
    const uint32_t* lastGuide_ = nullptr;

    // Inversion: exp(-mean) of the last mean.
    double inversionMean_ = -1.0;
    double inversionF0_ = 0.0;

    // Rejection: the constants of the last mean that is not whole, and those of whole means in a small
    // direct-mapped cache (an image of many levels uses each level at many pixels and in every frame).
    Rejection rejection_;
    static constexpr uint32_t kRejectionSlots = 1024;
    std::vector<Rejection> wholeRejection_;

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
