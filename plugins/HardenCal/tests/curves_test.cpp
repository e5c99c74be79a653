// The per-pixel curves: fits through three points, their inverses, and the sentinel wherever a curve has
// no finite answer.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "calib_curves.h"

namespace {

using namespace hcal::curves;
using hcal::kNoValue;

TEST(Curves, InversesGiveTheSentinelWhereThereIsNoAnswer)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        double got;
    };
    const Case cases[] = {
        {"line of slope 0", invertLine(inf, 5.0, 3.0)},
        {"line of slope 0 at its intercept", invertLine(inf, 5.0, 5.0)},
        {"line overflowing", invertLine(1e300, 0.0, 1e300)},
        {"line of an infinite rate", invertLine(-0.5, 5.0, inf)},
        {"parabola, negative discriminant", invertParabola(1.0, -4.0, 10.0, 5.0)},
        {"parabola, NaN rate", invertParabola(1.0, -4.0, 10.0, std::nan(""))},
        {"parabola in line form, slope 0", invertParabola(0.0, 0.0, 4.0, 3.0)},
        {"parabola derivative, discriminant 0", parabolaDerivative(1.0, -4.0, 4.0, 0.0)},
        {"exponential, rate below its floor", invertExponential(0.01, -2.0, 20.0, 10.0)},
        {"exponential, rate at its floor", invertExponential(0.01, -2.0, 20.0, 20.0)},
        {"exponential, exponent 0", invertExponential(0.01, 1.0 / 0.0, 0.0, 50.0)},
        {"exponential derivative, exponent 0", exponentialDerivative(1.0 / 0.0, 0.0, 50.0)},
        {"exponential derivative at its floor", exponentialDerivative(-2.0, 20.0, 20.0)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, kNoValue) << c.what;
}

TEST(Curves, ParabolaThroughThreePointsAndItsFallingBranch)
{
    // r = 0.5 (t - 20)^2 + 10 through t = 1, 3, 6.
    auto r = [](double t) { return 0.5 * (t - 20.0) * (t - 20.0) + 10.0; };
    const Parabola p = parabolaThrough(1.0, r(1.0), 3.0, r(3.0), 6.0, r(6.0));
    ASSERT_TRUE(p.usable);
    EXPECT_NEAR(p.a, 0.5, 1e-12);
    EXPECT_NEAR(p.b, -20.0, 1e-10);
    EXPECT_NEAR(p.c, 210.0, 1e-9);
    for (double t : {-3.0, 0.0, 2.5, 7.0, 19.0})
        EXPECT_NEAR(invertParabola(p.a, p.b, p.c, r(t)), t, 1e-9) << t;
    // dt/dr = 1 / (dr/dt) = 1 / (t - 20).
    EXPECT_NEAR(parabolaDerivative(p.a, p.b, p.c, r(4.0)), 1.0 / (4.0 - 20.0), 1e-12);

    struct Bad {
        const char* what;
        double r0, r1, r2;
    };
    const Bad bad[] = {
        {"straight (a = 0)", 30.0, 20.0, 5.0},
        {"concave (a < 0)", 30.0, 25.0, 10.0},
        {"vertex before the last point", 30.0, 10.0, 9.0},
    };
    for (const Bad& b : bad)
        EXPECT_FALSE(parabolaThrough(1.0, b.r0, 3.0, b.r1, 6.0, b.r2).usable) << b.what;
}

TEST(Curves, ExponentialThroughThreePointsRecoversTheCurve)
{
    struct Case {
        double A, B, C;
        double t0, t1, t2;
    };
    const Case cases[] = {
        {5000.0, -0.3, 100.0, 0.0, 1.0, 2.0},  // falling towards a floor
        {5000.0, -0.3, 100.0, 2.0, 4.0, 8.0},  // uneven spacing
        {800.0, -2.5, 0.0, 0.0, 0.5, 1.5},     // steep, no floor
        {-40.0, 0.2, 900.0, 0.0, 1.0, 3.0},    // falling ever faster (A < 0, B > 0)
        {1e6, -1e-4, -9.9e5, 0.0, 10.0, 20.0}, // almost straight
    };
    for (const Case& c : cases) {
        auto r = [&](double t) { return c.A * std::exp(c.B * t) + c.C; };
        const Exponential e = exponentialThrough(c.t0, r(c.t0), c.t1, r(c.t1), c.t2, r(c.t2));
        ASSERT_TRUE(e.usable) << c.A << " " << c.B;
        EXPECT_NEAR(e.B, c.B, 1e-9 * std::fabs(c.B)) << c.A << " " << c.B;
        for (double t : {c.t0, 0.5 * (c.t0 + c.t1), c.t1, 0.3 * c.t1 + 0.7 * c.t2, c.t2})
            EXPECT_NEAR(invertExponential(1.0 / e.A, 1.0 / e.B, e.C, r(t)), t, 1e-8 * std::fmax(1.0, t)) << c.B << " at " << t;
    }
}

TEST(Curves, ExponentialWithoutSolutionIsRefused)
{
    struct Case {
        const char* what;
        double t0, r0, t1, r1, t2, r2;
    };
    const Case cases[] = {
        {"equal rates", 0.0, 10.0, 1.0, 10.0, 2.0, 5.0},
        {"equal thicknesses", 0.0, 10.0, 0.0, 8.0, 2.0, 5.0},
        {"rising again", 0.0, 10.0, 1.0, 5.0, 2.0, 7.0},
        {"straight line", 0.0, 30.0, 1.0, 20.0, 2.0, 10.0},
        {"NaN rate", 0.0, std::nan(""), 1.0, 20.0, 2.0, 10.0},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(exponentialThrough(c.t0, c.r0, c.t1, c.r1, c.t2, c.r2).usable) << c.what;
    EXPECT_FALSE(exponentialPair(0.0, 10.0, 1.0, -5.0).usable) << "rates of both signs";
    EXPECT_FALSE(exponentialPair(1.0, 10.0, 1.0, 5.0).usable) << "equal thicknesses";
}

// The fits of pixels side by side keep each pixel's own iteration: every lane, whatever its neighbours do
// (converging, refused, needing the logarithmic form, running long), ends where the fit of that pixel
// alone ends, bit for bit.
TEST(Curves, ExponentsSideBySideEqualEachPixelAlone)
{
    const Spacing s = spacingOf(0.5, 1.5, 3.0);
    auto r = [](double A, double B, double C, double t) { return A * std::exp(B * t) + C; };
    struct Pixel {
        double r0, r1, r2;
    };
    const Pixel pixels[] = {
        {r(5000, -0.3, 100, 0.5), r(5000, -0.3, 100, 1.5), r(5000, -0.3, 100, 3.0)},
        {10.0, 10.0, 5.0},                                   // equal rates: no start
        {r(1e6, -1e-4, -9.9e5, 0.5), r(1e6, -1e-4, -9.9e5, 1.5), r(1e6, -1e-4, -9.9e5, 3.0)},
        {10.0, 5.0, 7.0},                                    // rising again
        {r(800, -2.5, 0, 0.5), r(800, -2.5, 0, 1.5), r(800, -2.5, 0, 3.0)},
        {r(-40, 0.2, 900, 0.5), r(-40, 0.2, 900, 1.5), r(-40, 0.2, 900, 3.0)},
        {1000.0, 1e-3, 0.0},                                 // very steep: far from the start
        {30.0, 20.0, 5.0},
    };
    const size_t n = sizeof pixels / sizeof pixels[0];
    for (size_t first = 0; first + kLanes <= n; ++first) {
        double r0[kLanes], r1[kLanes], r2[kLanes], B[kLanes];
        bool ok[kLanes];
        for (int k = 0; k < kLanes; ++k) {
            r0[k] = pixels[first + k].r0;
            r1[k] = pixels[first + k].r1;
            r2[k] = pixels[first + k].r2;
        }
        exponentFits(s, r0, r1, r2, B, ok);
        for (int k = 0; k < kLanes; ++k) {
            double alone = 0.0;
            const bool found = exponentFit(s, r0[k], r1[k], r2[k], alone);
            EXPECT_EQ(ok[k], found) << "pixel " << first + k;
            if (found && ok[k]) {
                EXPECT_EQ(B[k], alone) << "pixel " << first + k;
            }
        }
    }
}

} // namespace
