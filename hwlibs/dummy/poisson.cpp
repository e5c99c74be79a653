// Poisson sampler: cumulative tables with guide tables for whole means that recur, the transformed
// rejection method (PTRS) for other means from 10 on, inversion by chop-down search below 10 and a
// shortcut for tiny means.
#include "poisson.h"

#include <cmath>

namespace hwdummy {

namespace {

constexpr uint32_t kLnFacTableSize = 4096;

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
constexpr double kInversionLimit = 10.0;
constexpr int kInversionMaxX = 130;

// Table thresholds are 63-bit: a 64-bit output shifted right by one is always below the last one.
constexpr uint64_t kTableScale = uint64_t(1) << 63;

uint64_t splitmix64(uint64_t& x)
{
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

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

Xoshiro256::Xoshiro256(uint64_t seed)
{
    for (uint64_t& word : s_)
        word = splitmix64(seed);
}

// The distribution of one whole mean between lo and lo + cdf.size() - 1: the value is lo + the first k
// with u < cdf[k], for u uniform below 2^63. The range reaches 12 standard deviations and 12 beyond the
// mean on both sides (what lies outside has a probability far below 2^-63 and is folded into the ends).
// guide[j] is the first k that a u of the j-th of the guide's equal parts can give, so a search starts
// there and takes about one step.
struct PoissonSampler::Table {
    uint32_t lo = 0;
    int guideShift = 0;
    std::vector<uint64_t> cdf;
    std::vector<uint32_t> guide;

    void build(uint32_t mean)
    {
        const double m = mean;
        const double reach = std::ceil(12.0 * std::sqrt(m) + 12.0);
        lo = m > reach ? static_cast<uint32_t>(m - reach) : 0;
        const auto hi = static_cast<uint32_t>(m + reach);
        const size_t count = hi - lo + 1;
        // Probabilities from the mode outwards by the ratios of neighbours, so that no term underflows
        // before its neighbours do.
        std::vector<double> p(count);
        const size_t mode = mean - lo;
        p[mode] = std::exp(m * std::log(m) - m - lnFactorial(mean));
        for (size_t k = mode + 1; k < count; ++k)
            p[k] = p[k - 1] * m / static_cast<double>(lo + k);
        for (size_t k = mode; k > 0; --k)
            p[k - 1] = p[k] * static_cast<double>(lo + k) / m;
        double total = 0.0;
        for (double v : p)
            total += v;
        cdf.resize(count);
        double sum = 0.0;
        for (size_t k = 0; k < count; ++k) {
            sum += p[k];
            const double scaled = sum / total * static_cast<double>(kTableScale);
            cdf[k] = scaled >= static_cast<double>(kTableScale) ? kTableScale : static_cast<uint64_t>(scaled);
        }
        cdf[count - 1] = kTableScale;

        int bits = 4;
        while ((size_t(1) << bits) < count)
            ++bits;
        guideShift = 63 - bits;
        guide.resize(size_t(1) << bits);
        size_t k = 0;
        for (size_t j = 0; j < guide.size(); ++j) {
            const uint64_t start = static_cast<uint64_t>(j) << guideShift;
            while (cdf[k] <= start)
                ++k;
            guide[j] = static_cast<uint32_t>(k);
        }
    }
};

PoissonSampler::PoissonSampler(uint32_t seed) : rng_(seed), wholeRejection_(kRejectionSlots) {}

PoissonSampler::~PoissonSampler() = default;

uint32_t PoissonSampler::sample(double mean)
{
    if (!(mean > 0.0))
        return 0;
    if (mean > kMaxPoissonMean)
        mean = kMaxPoissonMean;
    if (mean == std::floor(mean))
        return sampleWhole(static_cast<uint32_t>(mean));
    if (mean < kTinyMean)
        return sampleTinyMean(mean);
    if (mean < kInversionLimit)
        return sampleByInversion(mean);
    if (mean != rejection_.mean)
        rejection_.set(mean);
    return sampleByRejection(rejection_);
}

uint32_t PoissonSampler::sampleWholeOtherTable(uint32_t mean)
{
    if (mean > kMaxPoissonMean)
        mean = kMaxPoissonMean;
    if (mean < kSmallMeans) {
        std::unique_ptr<Table>& table = smallTables_[mean];
        if (!table) {
            table = std::make_unique<Table>();
            table->build(mean);
        }
        lastTableMean_ = mean;
        return sampleTable(*table);
    }
    if (mean <= kMaxTableMean)
        return sampleCachedTable(mean);
    return sampleWholeByRejection(mean);
}

// Samples table and makes it the one sampleWhole takes at once for its mean.
uint32_t PoissonSampler::sampleTable(const Table& table)
{
    lastLo_ = table.lo;
    lastGuideShift_ = table.guideShift;
    lastCdf_ = table.cdf.data();
    lastGuide_ = table.guide.data();
    const uint64_t u = rng_.next() >> 1;
    uint32_t k = table.guide[u >> table.guideShift];
    while (table.cdf[k] <= u)
        ++k;
    return table.lo + k;
}

uint32_t PoissonSampler::sampleCachedTable(uint32_t mean)
{
    // Fibonacci hashing spreads neighbouring means over the slots.
    Slot& slot = slots_[(mean * 0x9E3779B9u) >> 26];
    static_assert(kSlots == 64, "the hash keeps 6 bits");
    if (slot.tableMean == mean) {
        lastTableMean_ = mean;
        return sampleTable(*slot.table);
    }
    if (slot.candidate != mean) {
        slot.candidate = mean;
        slot.hits = 0;
    }
    // A table costs about as much as a few samples per entry; its length grows with the square root of
    // the mean, which mean / 8 bounds from above over the range of the tables.
    if (++slot.hits < 16 + mean / 8)
        return sampleWholeByRejection(mean);
    if (slot.tableMean == lastTableMean_)
        lastTableMean_ = 0; // its arrays are about to change
    if (!slot.table)
        slot.table = std::make_unique<Table>();
    slot.table->build(mean);
    slot.tableMean = mean;
    slot.candidate = 0;
    slot.hits = 0;
    lastTableMean_ = mean;
    return sampleTable(*slot.table);
}

uint32_t PoissonSampler::sampleWholeByRejection(uint32_t mean)
{
    Rejection& c = wholeRejection_[mean % kRejectionSlots];
    if (c.mean != mean)
        c.set(mean);
    return sampleByRejection(c);
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

void PoissonSampler::Rejection::set(double m)
{
    mean = m;
    sqrtMean = std::sqrt(m);
    b = 0.931 + 2.53 * sqrtMean;
    a = -0.059 + 0.02483 * b;
    vr = 0.9277 - 3.6224 / (b - 2.0);
    logMean = std::log(m);
    logInvAlpha = std::log(1.1239 + 1.1328 / (b - 3.4));
    // Values beyond this bound have a probability far below anything a double resolves.
    bound = m + 60.0 * sqrtMean + 60.0;
}

// The transformed rejection method with squeeze (PTRS) for means from 10 on: a quick acceptance takes
// most samples with two uniforms and no logarithm.
uint32_t PoissonSampler::sampleByRejection(const Rejection& c)
{
    for (;;) {
        const double u = uniform() - 0.5;
        const double v = uniform();
        const double us = 0.5 - std::fabs(u);
        if (us <= 0.0)
            continue;
        const double k = std::floor((2.0 * c.a / us + c.b) * u + c.mean + 0.43);
        if (us >= 0.07 && v <= c.vr)
            return static_cast<uint32_t>(k);
        if (k < 0.0 || k > c.bound || (us < 0.013 && v > us))
            continue;
        const auto n = static_cast<uint32_t>(k);
        if (std::log(v) + c.logInvAlpha - std::log(c.a / (us * us) + c.b) <= -c.mean + k * c.logMean - lnFactorial(n))
            return n;
    }
}

} // namespace hwdummy
