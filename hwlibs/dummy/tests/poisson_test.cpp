// The Poisson sampler of the simulated read-out: each of its three methods gives the right mean and
// variance, ln(n!) agrees across the table and the series, and a seed fixes the sequence.
#include <cmath>
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
    for (uint32_t n : {1020u, 1023u, 1024u, 1025u, 100000u})
        EXPECT_NEAR(lnFactorial(n) - lnFactorial(n - 1), std::log(static_cast<double>(n)), 1e-9) << n;
    EXPECT_NEAR(lnFactorial(5000), std::lgamma(5001.0), 1e-8);
}

} // namespace
