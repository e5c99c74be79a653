// The Poisson sampler of the simulated read-out: each of its methods gives the right mean and variance
// and, for whole means as the read-out has them, counts that pass a chi-square test against the Poisson
// probabilities; ln(n!) agrees across the table and the series, and a seed fixes the sequence.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "poisson.h"

using hwdummy::lnFactorial;
using hwdummy::PoissonSampler;

namespace {

TEST(DummyPoisson, MeanAndVarianceOfEveryMethod)
{
    // Inversion below 17, ratio of uniforms from 17 on; the largest mean is the read-out's limit.
    const double means[] = {0.5, 3.0, 16.9, 17.0, 100.0, 1000.0, 123456.0, 1999999999.0};
    constexpr int kSamples = 100000;
    PoissonSampler sampler(12345);
    for (double mean : means) {
        double sum = 0, sum2 = 0;
        for (int i = 0; i < kSamples; ++i) {
            const double k = sampler.sample(mean);
            sum += k;
            sum2 += k * k;
        }
        const double m = sum / kSamples;
        const double var = sum2 / kSamples - m * m;
        // The mean's spread is sqrt(mean / N); the variance's about mean x sqrt(2 / N) for large means.
        EXPECT_NEAR(m, mean, 8 * std::sqrt(mean / kSamples)) << "mean " << mean;
        EXPECT_NEAR(var, mean, 0.05 * mean) << "mean " << mean;
    }
}

constexpr int kFramePixels = 65536;

// Chi-square of the counts of samples against the Poisson probabilities of mean: one class per value,
// the tails merged until every class expects at least 5 counts. Returns the statistic and its degrees of
// freedom.
struct ChiSquare {
    double statistic = 0;
    int freedom = 0;
};

ChiSquare chiSquare(const std::vector<uint32_t>& samples, double mean)
{
    // Probabilities by the ratio of neighbours from the mode, over mean +- 12 standard deviations + 12.
    const double reach = std::ceil(12 * std::sqrt(mean) + 12);
    const auto lo = static_cast<uint32_t>(std::max(0.0, mean - reach));
    const auto hi = static_cast<uint32_t>(mean + reach);
    std::vector<double> p(hi - lo + 1);
    const auto mode = static_cast<uint32_t>(mean);
    p[mode - lo] = std::exp(mode * std::log(mean) - mean - std::lgamma(mode + 1.0));
    for (uint32_t k = mode + 1; k <= hi; ++k)
        p[k - lo] = p[k - 1 - lo] * mean / k;
    for (uint32_t k = mode; k > lo; --k)
        p[k - 1 - lo] = p[k - lo] * k / mean;

    std::vector<double> observed(p.size(), 0);
    for (uint32_t x : samples)
        observed[std::clamp(x, lo, hi) - lo] += 1;
    const double n = static_cast<double>(samples.size());
    // Classes: [first, last] inclusive, merged from both ends until each expects >= 5.
    std::vector<std::pair<double, double>> classes; // expected, observed
    double e = 0, o = 0;
    for (size_t k = 0; k < p.size(); ++k) {
        e += p[k] * n;
        o += observed[k];
        if (e >= 5 && k + 1 < p.size()) {
            classes.push_back({e, o});
            e = o = 0;
        }
    }
    // The rest of the upper tail goes into the last class.
    if (!classes.empty()) {
        classes.back().first += e;
        classes.back().second += o;
    }
    ChiSquare c;
    for (const auto& [expected, got] : classes)
        c.statistic += (got - expected) * (got - expected) / expected;
    c.freedom = static_cast<int>(classes.size()) - 1;
    return c;
}

// The value that chi-square with f degrees of freedom exceeds with a probability of about 1e-6
// (Wilson-Hilferty).
double chiSquareBound(int f)
{
    const double z = 4.75;
    const double a = 2.0 / (9.0 * f);
    return f * std::pow(1 - a + z * std::sqrt(a), 3);
}

TEST(DummyPoisson, WholeMeansOfAFrameFollowThePoissonDistribution)
{
    // A frame of one whole mean (a flat image) through the read-out's path, tables and all; 100000 lies
    // beyond the tables and takes the rejection method, as do means that change from pixel to pixel.
    // The 1 % band of the variance is less than two standard deviations of its estimate on 65536 samples:
    // a fixed seed keeps the test deterministic.
    for (uint32_t mean : {2u, 10u, 1000u, 100000u}) {
        PoissonSampler sampler(2000);
        std::vector<uint32_t> samples(kFramePixels);
        double sum = 0, sum2 = 0;
        for (uint32_t& x : samples) {
            x = sampler.sampleWhole(mean);
            sum += x;
            sum2 += double(x) * x;
        }
        const double m = sum / kFramePixels;
        const double var = sum2 / kFramePixels - m * m;
        EXPECT_NEAR(m, mean, 0.01 * mean) << "mean " << mean;
        EXPECT_NEAR(var, mean, 0.01 * mean) << "mean " << mean;
        const ChiSquare c = chiSquare(samples, mean);
        EXPECT_LT(c.statistic, chiSquareBound(c.freedom)) << "mean " << mean << ", " << c.freedom << " degrees";
        EXPECT_GT(c.freedom, mean < 5 ? 4 : 10) << "mean " << mean;
    }
}

TEST(DummyPoisson, RejectionMethodFollowsThePoissonDistribution)
{
    // Means that are not whole take the rejection method from 10 on; so do whole means that change at
    // every pixel, checked here by their standardised deviations.
    for (double mean : {10.5, 1000.5}) {
        PoissonSampler sampler(77);
        std::vector<uint32_t> samples(kFramePixels);
        for (uint32_t& x : samples)
            x = sampler.sample(mean);
        const ChiSquare c = chiSquare(samples, mean);
        EXPECT_LT(c.statistic, chiSquareBound(c.freedom)) << "mean " << mean;
    }
    PoissonSampler sampler(78);
    double sum = 0, sum2 = 0;
    for (int i = 0; i < kFramePixels; ++i) {
        const uint32_t mean = 500 + static_cast<uint32_t>(i * 7919) % 1001;
        const double z = (sampler.sampleWhole(mean) - double(mean)) / std::sqrt(double(mean));
        sum += z;
        sum2 += z * z;
    }
    EXPECT_NEAR(sum / kFramePixels, 0.0, 0.02);
    EXPECT_NEAR(sum2 / kFramePixels, 1.0, 0.02);
}

TEST(DummyPoisson, TinyAndZeroMeans)
{
    PoissonSampler sampler(1);
    int nonZero = 0;
    for (int i = 0; i < 100000; ++i) {
        const uint32_t k = sampler.sample(1e-7);
        EXPECT_LE(k, 2u);
        nonZero += k != 0;
        EXPECT_EQ(sampler.sample(0.0), 0u);
        EXPECT_EQ(sampler.sample(-3.0), 0u);
        EXPECT_EQ(sampler.sample(std::nan("")), 0u);
    }
    EXPECT_LE(nonZero, 5) << "expected about 0.01 hits";
}

TEST(DummyPoisson, MeansAboveTheLimitAreLimited)
{
    PoissonSampler sampler(3);
    for (double mean : {3e9, 1e300, HUGE_VAL}) {
        const uint32_t k = sampler.sample(mean);
        EXPECT_GT(k, 1999000000u) << mean;
        EXPECT_LT(k, 2001000000u) << mean;
    }
}

TEST(DummyPoisson, SwitchingMeansKeepsEachMethodRight)
{
    // The per-mean constants are cached: alternating means must not reuse the wrong ones.
    PoissonSampler sampler(99);
    double sumLow = 0, sumHigh = 0;
    constexpr int kRounds = 50000;
    for (int i = 0; i < kRounds; ++i) {
        sumLow += sampler.sample(4.0) + sampler.sample(9.0);
        sumHigh += sampler.sample(50.0) + sampler.sample(5000.0);
    }
    EXPECT_NEAR(sumLow / kRounds, 13.0, 0.2);
    EXPECT_NEAR(sumHigh / kRounds, 5050.0, 3.0);
}

TEST(DummyPoisson, SeedFixesTheSequence)
{
    PoissonSampler a(2024), b(2024), c(2025);
    int differ = 0;
    for (int i = 0; i < 1000; ++i) {
        const uint32_t ka = a.sample(1000.0);
        EXPECT_EQ(ka, b.sample(1000.0));
        differ += ka != c.sample(1000.0);
    }
    EXPECT_GT(differ, 900);
    PoissonSampler u(7);
    for (int i = 0; i < 1000; ++i) {
        const double x = u.uniform();
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 1.0);
    }
}

TEST(DummyPoisson, LnFactorial)
{
    EXPECT_EQ(lnFactorial(0), 0.0);
    EXPECT_EQ(lnFactorial(1), 0.0);
    EXPECT_NEAR(lnFactorial(10), std::log(3628800.0), 1e-12);
    // Table and series meet smoothly: ln(n!) - ln((n-1)!) = ln n across the boundary.
    for (uint32_t n : {1020u, 1023u, 1024u, 1025u, 4095u, 4096u, 4097u, 100000u})
        EXPECT_NEAR(lnFactorial(n) - lnFactorial(n - 1), std::log(static_cast<double>(n)), 1e-9) << n;
    EXPECT_NEAR(lnFactorial(5000), std::lgamma(5001.0), 1e-8);
}

} // namespace
