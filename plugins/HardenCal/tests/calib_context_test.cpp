// The calibration of one chip: thickness recovered from known curves, extrapolation, the error estimate,
// the mask and the filling of bad pixels, and the points' list.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calib_fixture.h"

namespace {

using hcal::kNoValue;
using hcal::Status;
using hcaltest::ContextTest;
using hcaltest::kPixels;
using hcaltest::RateCurve;

// Known curves; every pixel has curve parameters of its own.
double linear(double t, int i)
{
    return 1000.0 - (50.0 + i % 7) * t;
}
double quadratic(double t, int i)
{
    const double a = 0.5 + 0.1 * (i % 5);
    return a * (t - 20.0) * (t - 20.0) + 10.0 + i % 3;
}
double exponential(double t, int i)
{
    return (5000.0 + 10.0 * (i % 13)) * std::exp(-(0.3 + 0.01 * (i % 11)) * t) + 100.0 + i % 7;
}
double pureExponential(double t, int i)
{
    return (4000.0 + 10.0 * (i % 13)) * std::exp(-(0.25 + 0.01 * (i % 11)) * t);
}

struct Curve {
    const char* name;
    int method;
    RateCurve rate;
    std::vector<double> points;
};

const Curve kLinear{"linear", hcal::kLinear, linear, {0.0, 2.0, 5.0, 9.0}};
const Curve kQuadratic{"quadratic", hcal::kQuadratic, quadratic, {0.0, 1.0, 3.0, 6.0, 10.0}};
const Curve kExponential{"exponential", hcal::kExponential, exponential, {0.0, 1.0, 2.0, 4.0, 8.0}};
const Curve kExponential6{"exponential, six points", hcal::kExponential, exponential, {0.0, 0.5, 1.5, 3.0, 5.0, 8.0}};
const Curve kPureExponential{"exponential without floor", hcal::kExponential, pureExponential, {0.0, 1.0, 3.0, 6.0}};

class FitTest : public ContextTest {
protected:
    void calibrate(const Curve& c)
    {
        ASSERT_TRUE(ctx.setMethod(c.method));
        addPoints(c.rate, c.points);
    }

    // Largest deviation of the thickness from want over all pixels, relative to max(1, |want|).
    double worstDeviation(double want) const
    {
        double worst = 0.0;
        for (double t : thickness)
            worst = std::fmax(worst, std::fabs(t - want) / std::fmax(1.0, std::fabs(want)));
        return worst;
    }
};

// Between the last two points the curve of the last interior point is blended with the last point's
// two-point form (a line, or an exponential without floor), which meets the true curve only at both ends
// of that segment: there recovery is exact at the points themselves, and everywhere for a curve that the
// two-point form describes.
TEST_F(FitTest, IntermediateRatesGiveTheirThickness)
{
    struct Case {
        const Curve& curve;
        std::vector<double> thicknesses;
        double tolerance;
    };
    const Case cases[] = {
        {kLinear, {0.7, 2.0, 3.3, 6.1, 8.9}, 1e-12},
        {kQuadratic, {0.4, 2.2, 4.5, 6.0, 10.0}, 1e-9},
        {kExponential, {0.3, 1.7, 3.1, 4.0, 8.0}, 1e-9},
        {kExponential6, {0.2, 1.0, 2.4, 4.1, 8.0}, 1e-9},
        {kPureExponential, {0.4, 2.0, 4.5}, 1e-9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.curve.name);
        ASSERT_EQ(ctx.bind(0, hcaltest::kOneChip), Status::ok);
        calibrate(c.curve);
        EXPECT_EQ(ctx.badPixelCount(), 0);
        for (double t : c.thicknesses) {
            ASSERT_EQ(correctAt(c.curve.rate, t), Status::ok);
            EXPECT_LE(worstDeviation(t), c.tolerance) << "at " << t;
        }
    }
}

TEST_F(FitTest, BeyondBothEndsExtrapolatedOrHeldAtTheEndPoint)
{
    struct End {
        double thickness;
        bool extrapolate;
        double want;
    };
    struct Case {
        const Curve& curve;
        std::vector<End> ends;
    };
    const Case cases[] = {
        {kLinear, {{-1.0, true, -1.0}, {12.0, true, 12.0}, {-1.0, false, 0.0}, {12.0, false, 9.0}}},
        {kQuadratic, {{-2.0, true, -2.0}, {-2.0, false, 0.0}, {13.0, false, 10.0}}},
        {kPureExponential, {{-1.5, true, -1.5}, {9.0, true, 9.0}}},
        {kExponential, {{-1.0, false, 0.0}, {10.0, false, 8.0}}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ctx.bind(0, hcaltest::kOneChip), Status::ok);
        calibrate(c.curve);
        ctx.setFillBadPixels(false); // a held thickness has no error, which would make it a pixel to fill
        for (const End& e : c.ends) {
            SCOPED_TRACE(std::string(c.curve.name) + " at " + std::to_string(e.thickness) +
                         (e.extrapolate ? ", extrapolated" : ", held"));
            ctx.setExtrapolate(e.extrapolate);
            ASSERT_EQ(correctAt(c.curve.rate, e.thickness), Status::ok);
            EXPECT_LE(worstDeviation(e.want), 1e-9);
        }
    }
}

TEST_F(FitTest, ErrorOfALineIsTheRateSigmaOverTheSlope)
{
    // Points of sigma 3 over 2 s: rate sigma 1.5; input sigma 4 over 2 s: 2; together 2.5.
    ctx.setMethod(hcal::kLinear);
    addPoints(linear, kLinear.points, 2.0, 3.0);
    for (bool derivative : {false, true}) {
        SCOPED_TRACE(derivative ? "by derivative" : "by difference");
        ctx.setErrorByDerivative(derivative);
        ASSERT_EQ(correctAt(linear, 3.3, 2.0, 4.0), Status::ok);
        double worst = 0.0;
        for (int i = 0; i < kPixels; ++i) {
            const double want = 2.5 / (50.0 + i % 7);
            worst = std::fmax(worst, std::fabs(error[static_cast<size_t>(i)] - want) / want);
        }
        EXPECT_LE(worst, derivative ? 1e-6 : 1e-9);
    }
}

// A good pixel's rates need only stay below the first one: here they fall, rise and fall again. Each of
// x - s, x, x + s takes the segment of the first point whose rate is below it, so x + s = 350 reads the
// first segment although x = 200 lies in the last.
TEST_F(FitTest, ErrorOfARateThatFallsAndRisesReadsEachEndInItsOwnSegment)
{
    // Lines: 1000 - 350 t up to t = 2 and 1675 - 175 t from t = 5.
    const double rates[] = {1000.0, 300.0, 800.0, 100.0};
    const std::vector<double> points{0.0, 2.0, 5.0, 9.0};
    auto rate = [&](double t, int) { return rates[std::find(points.begin(), points.end(), t) - points.begin()]; };
    ctx.setMethod(hcal::kLinear);
    ctx.setFillBadPixels(false);
    addPoints(rate, points, 1.0, 0.0);
    struct Case {
        bool extrapolate;
        double thicknessOfLo; // x - s = 50, below every point
    } cases[] = {{false, 9.0}, {true, (1675.0 - 50.0) / 175.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extrapolate ? "extrapolated" : "held");
        ctx.setExtrapolate(c.extrapolate);
        std::vector<double> counts(kPixels, 200.0), sigma(kPixels, 150.0);
        ASSERT_EQ(ctx.correct(counts.data(), sigma.data(), kPixels, 1.0, thickness.data(), error.data()), Status::ok);
        const double thicknessOfHi = (1000.0 - 350.0) / 350.0;
        EXPECT_NEAR(thickness[77], (1675.0 - 200.0) / 175.0, 1e-12);
        EXPECT_NEAR(error[77], std::fabs(c.thicknessOfLo - thicknessOfHi) / 2.0, 1e-12);
    }
}

TEST_F(FitTest, RatesOfZeroOrBelowGiveThicknessZero)
{
    calibrate(kExponential);
    ctx.setFillBadPixels(false);
    std::vector<double> counts(kPixels, 0.0);
    for (int i = 0; i < kPixels; i += 2)
        counts[static_cast<size_t>(i)] = -5.0;
    ASSERT_EQ(ctx.correct(counts.data(), nullptr, kPixels, 1.0, thickness.data(), nullptr), Status::ok);
    for (double t : thickness)
        ASSERT_EQ(t, 0.0);
}

TEST_F(FitTest, TooFewPointsForTheMethodGiveZerosAndTheMessage)
{
    for (int method : {hcal::kLinear, hcal::kQuadratic, hcal::kExponential}) {
        SCOPED_TRACE(method);
        ASSERT_EQ(ctx.bind(0, hcaltest::kOneChip), Status::ok);
        ctx.setMethod(method);
        addPoints(linear, method == hcal::kLinear ? std::vector<double>{1.0} : std::vector<double>{1.0, 2.0});
        log.clear();
        std::fill(thickness.begin(), thickness.end(), 7.0);
        std::fill(error.begin(), error.end(), 7.0);
        EXPECT_EQ(correctAt(linear, 1.5), Status::notEnoughPoints);
        EXPECT_TRUE(log.has("Error precomputing parameters values. Not enough calibration points."));
        for (int i = 0; i < kPixels; ++i)
            ASSERT_TRUE(thickness[static_cast<size_t>(i)] == 0.0 && error[static_cast<size_t>(i)] == 0.0) << i;
    }
}

// A window refreshing its views (mask, curve samples, result, statistics) of a list too short for the method
// says nothing: it once logged the refusal a dozen times for a single added point. A correction asked for
// logs it once.
TEST_F(FitTest, ViewsOfTooFewPointsStayQuietACorrectionLogsTheRefusalOnce)
{
    ASSERT_EQ(ctx.bind(0, hcaltest::kOneChip), Status::ok);
    ctx.setMethod(hcal::kExponential);
    addPoints(linear, {1.0, 2.0});
    log.clear();
    std::vector<double> mask(kPixels);
    EXPECT_EQ(ctx.mask(mask.data(), kPixels), Status::ok);
    for (int s = 0; s < 12; ++s)
        ctx.thicknessAt(0, 1.0 + s);
    ctx.currentResult(thickness.data(), error.data(), kPixels);
    ctx.badPixelCount();
    ctx.errorStats();
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    EXPECT_EQ(correctAt(linear, 1.5), Status::notEnoughPoints);
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"Error precomputing parameters values. Not enough calibration points."});
}

TEST_F(FitTest, NoAnswerGivesTheSentinelNeverInfinityOrNaN)
{
    // Equal rates at the last two points: slope 0 below the last point.
    auto flatEnd = [](double t, int) { return t < 1.5 ? 10.0 - 5.0 * t : t < 2.5 ? 3.0 : 3.0; };
    ctx.setMethod(hcal::kLinear);
    addPoints(flatEnd, {0.0, 1.0, 2.0, 3.0});
    ctx.setFillBadPixels(false);
    std::vector<double> counts(kPixels, 2.0); // rate 2: below the last point
    ASSERT_EQ(ctx.correct(counts.data(), nullptr, kPixels, 1.0, thickness.data(), error.data()), Status::ok);
    for (int i = 0; i < kPixels; ++i)
        ASSERT_TRUE(thickness[static_cast<size_t>(i)] == kNoValue && error[static_cast<size_t>(i)] == kNoValue) << i;

    // Non-finite input counts.
    counts.assign(kPixels, std::nan(""));
    counts[1] = INFINITY;
    ASSERT_EQ(ctx.correct(counts.data(), nullptr, kPixels, 1.0, thickness.data(), error.data()), Status::ok);
    for (int i = 0; i < kPixels; ++i)
        ASSERT_TRUE(std::isfinite(thickness[static_cast<size_t>(i)]) && std::isfinite(error[static_cast<size_t>(i)]))
            << i;
}

TEST_F(FitTest, AnotherMethodRecomputesTheMask)
{
    // Straight lines have no usable parabola: every pixel is bad for Quadratic, none for Linear.
    calibrate({"linear as quadratic", hcal::kQuadratic, linear, {0.0, 2.0, 5.0, 9.0}});
    EXPECT_EQ(ctx.badPixelCount(), kPixels);
    ctx.setMethod(hcal::kLinear);
    EXPECT_EQ(ctx.badPixelCount(), 0);
    ASSERT_EQ(correctAt(linear, 3.3), Status::ok);
    EXPECT_LE(worstDeviation(3.3), 1e-12);
}

// A frame is read through a pixel-major copy of the fit when memory allows (Exponential by difference with
// its logarithms taken side by side), else through the points' own arrays, pixel by pixel: both give the
// same bits, for every method, within and beyond the points, with bad pixels, rates of 0, no rate and a
// rate below its sigma, by difference and by derivative.
TEST(FitReadBack, PixelMajorTableAndPointArraysGiveTheSameBits)
{
    std::vector<double> want(kPixels);
    for (int i = 0; i < kPixels; ++i)
        want[static_cast<size_t>(i)] = -2.0 + 14.0 * (i % 97) / 96.0;
    for (const Curve* c : {&kLinear, &kQuadratic, &kExponential6, &kPureExponential}) {
        SCOPED_TRACE(c->name);
        // Every 53rd pixel rises again at the last point: bad.
        auto rate = [c](double t, int i) {
            return i % 53 == 0 && t == c->points.back() ? 2.0 * c->rate(0.0, i) : c->rate(t, i);
        };
        std::vector<double> counts(kPixels);
        for (int i = 0; i < kPixels; ++i)
            counts[static_cast<size_t>(i)] = i % 61 == 0   ? 0.0
                                             : i % 67 == 0 ? std::nan("")
                                             : i % 71 == 0 ? 0.5 // its rate less its sigma is below 0
                                                           : rate(want[static_cast<size_t>(i)], i);
        // ctx[0] never has room for the table (any array beyond one pixel's worth), ctx[1] has.
        hcal::CalibContext ctx[2]{hcal::CalibContext(nullptr), hcal::CalibContext(nullptr)};
        for (auto& x : ctx) {
            ASSERT_EQ(x.bind(0, hcaltest::kOneChip), Status::ok);
            x.setMethod(c->method);
            x.setFillBadPixels(false);
            for (double p : c->points)
                ASSERT_EQ(x.addPoint(p, 1.0, hcaltest::countsAt(rate, p, 1.0), {}), Status::ok);
        }
        for (bool extrapolate : {true, false})
            for (bool derivative : {false, true}) {
                SCOPED_TRACE(std::string(extrapolate ? "extrapolated" : "held") + (derivative ? ", by derivative" : ""));
                std::vector<double> t[2], e[2];
                for (int k = 0; k < 2; ++k) {
                    ctx[k].setExtrapolate(extrapolate);
                    ctx[k].setErrorByDerivative(derivative);
                    t[k].resize(kPixels);
                    e[k].resize(kPixels);
                    hcal::CalibContext::setAllocationLimitForTests(k == 0 ? kPixels * sizeof(double) : 0);
                    const Status s = ctx[k].correct(counts.data(), nullptr, kPixels, 1.0, t[k].data(), e[k].data());
                    hcal::CalibContext::setAllocationLimitForTests(0);
                    ASSERT_EQ(s, Status::ok);
                }
                for (size_t i = 0; i < t[0].size(); ++i) {
                    ASSERT_EQ(std::memcmp(&t[0][i], &t[1][i], sizeof(double)), 0) << i << ": " << t[0][i] << " " << t[1][i];
                    ASSERT_EQ(std::memcmp(&e[0][i], &e[1][i], sizeof(double)), 0) << i << ": " << e[0][i] << " " << e[1][i];
                }
            }
    }
}

// ---- the mask and the filling of bad pixels ----

constexpr int kWidth = hcal::kChipSide;

int at(int x, int y)
{
    return y * kWidth + x;
}

class FillTest : public ContextTest {
protected:
    // One straight line for every pixel except bad ones, whose rate rises again at the last point; the
    // input's thickness grows across the chip. Equal slopes and sigmas give every good pixel one error.
    void calibrate(const std::vector<int>& bad)
    {
        bad_.assign(kPixels, false);
        for (int i : bad)
            bad_[static_cast<size_t>(i)] = true;
        ctx.setMethod(hcal::kLinear);
        addPoints([this](double t, int i) { return rate(t, i); }, {0.0, 2.0, 5.0}, 2.0, 3.0);
    }
    double rate(double t, int i) const
    {
        if (t == 5.0 && bad_[static_cast<size_t>(i)])
            return 2000.0;
        return 1000.0 - 50.0 * t;
    }
    static double inputThickness(int x, int y) { return 2.5 + 0.01 * x + 0.003 * y; }
    Status correctField(bool fill)
    {
        ctx.setFillBadPixels(fill);
        std::vector<double> counts(kPixels);
        for (int i = 0; i < kPixels; ++i)
            counts[static_cast<size_t>(i)] = 1000.0 - 50.0 * inputThickness(i % kWidth, i / kWidth);
        std::vector<double> sigma(kPixels, 4.0);
        return ctx.correct(counts.data(), sigma.data(), kPixels, 1.0, thickness.data(), error.data());
    }
    double v(int x, int y) const { return thickness[static_cast<size_t>(at(x, y))]; }

    std::vector<bool> bad_;
};

TEST_F(FillTest, NonMonotonePixelIsMaskedZeroedAndFilledFromItsNeighbours)
{
    // Neighbours of different errors: the slopes differ per pixel here.
    ctx.setMethod(hcal::kLinear);
    const int p = at(100, 100);
    auto curve = [p](double t, int i) { return i == p && t == 5.0 ? 2000.0 : linear(t, i); };
    addPoints(curve, {0.0, 2.0, 5.0});
    EXPECT_EQ(ctx.badPixelCount(), 1);
    std::vector<double> mask(kPixels);
    ASSERT_EQ(ctx.mask(mask.data(), kPixels), Status::ok);
    EXPECT_EQ(mask[static_cast<size_t>(p)], 0.0);
    EXPECT_EQ(mask[static_cast<size_t>(p + 1)], 1.0);

    std::vector<double> counts(kPixels);
    for (int i = 0; i < kPixels; ++i)
        counts[static_cast<size_t>(i)] = linear(2.5 + 0.01 * (i % kWidth) + 0.003 * (i / kWidth), i);
    ctx.setFillBadPixels(false);
    ASSERT_EQ(ctx.correct(counts.data(), nullptr, kPixels, 1.0, thickness.data(), error.data()), Status::ok);
    EXPECT_EQ(thickness[static_cast<size_t>(p)], 0.0);
    double sumW = 0.0, sumV = 0.0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy) {
                const size_t n = static_cast<size_t>(at(100 + dx, 100 + dy));
                sumW += 1.0 / error[n];
                sumV += thickness[n] / error[n];
            }
    ctx.setFillBadPixels(true);
    ASSERT_EQ(ctx.currentResult(thickness.data(), error.data(), kPixels), Status::ok);
    EXPECT_NEAR(thickness[static_cast<size_t>(p)], sumV / sumW, 1e-12);
    EXPECT_NEAR(error[static_cast<size_t>(p)], 8.0 / sumW, 1e-15);
}

TEST_F(FillTest, CornerNeedsThreeEighthsOfItsNeighboursValid)
{
    // With one of three valid the corner waits for the pass that fills its neighbours.
    struct Case {
        const char* what;
        std::vector<int> bad;
        std::function<double(const FillTest&)> corner;
    };
    auto in = [](int x, int y) { return inputThickness(x, y); };
    const Case cases[] = {
        {"two of three valid: first pass", {at(0, 0), at(1, 1)},
         [&](const FillTest&) { return (in(1, 0) + in(0, 1)) / 2.0; }},
        {"one of three valid: second pass", {at(0, 0), at(0, 1), at(1, 1)},
         [&](const FillTest&) {
             const double m01 = (in(1, 0) + in(0, 2) + in(1, 2)) / 3.0;
             const double m11 = (in(1, 0) + in(2, 0) + in(2, 1) + in(0, 2) + in(1, 2) + in(2, 2)) / 6.0;
             return (in(1, 0) + m01 + m11) / 3.0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(ctx.bind(0, hcaltest::kOneChip), Status::ok);
        calibrate(c.bad);
        ASSERT_EQ(correctField(true), Status::ok);
        EXPECT_NEAR(v(0, 0), c.corner(*this), 1e-12);
        EXPECT_NEAR(error[0], error[static_cast<size_t>(at(5, 5))], 1e-15);
    }
}

TEST_F(FillTest, AllBadFrameEndsWithoutValues)
{
    std::vector<int> all(kPixels);
    for (int i = 0; i < kPixels; ++i)
        all[static_cast<size_t>(i)] = i;
    calibrate(all);
    ASSERT_EQ(correctField(true), Status::ok);
    for (int i = 0; i < kPixels; ++i)
        ASSERT_EQ(thickness[static_cast<size_t>(i)], kNoValue) << i;
    ASSERT_EQ(correctField(false), Status::ok);
    for (int i = 0; i < kPixels; ++i)
        ASSERT_EQ(thickness[static_cast<size_t>(i)], 0.0) << i;
}

// ---- the points' list ----

TEST_F(ContextTest, MissingThicknessAndTimeContinueTheList)
{
    struct Case {
        std::vector<double> existing;
        double wantThickness;
        double wantTime;
    };
    const Case cases[] = {
        {{}, 0.0, 1.0},
        {{3.0}, 4.0, 3.0},
        {{1.0, 4.0}, 7.0, 4.0},
        {{1.0, 2.0, 4.0}, 5.5, 4.0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ctx.bind(0, hcaltest::kOneChip), Status::ok);
        for (double t : c.existing)
            ASSERT_EQ(ctx.addPoint(t, t, std::vector<double>(kPixels, 100.0), {}), Status::ok);
        int index = -1;
        ASSERT_EQ(ctx.addPoint(c.existing.empty() ? -1.0 : 0.0, -2.0, std::vector<double>(kPixels, 9.0), {}, &index),
                  Status::ok);
        const auto points = ctx.points();
        ASSERT_EQ(index, static_cast<int>(points.size()) - 1);
        EXPECT_EQ(points.back().thickness, c.wantThickness);
        EXPECT_EQ(points.back().time, c.wantTime);
        hcal::PointData d;
        ASSERT_TRUE(ctx.pointData(index, d));
        EXPECT_EQ(d.sigma[0], 3.0) << "sigma sqrt(data) when none is given";
    }
}

// Without a sigma a point takes sqrt(data) above 1e-200 and 0 elsewhere; the roots are taken two at a time,
// so every value stands at even and at odd pixels (a period of 7).
TEST_F(ContextTest, PoissonSigmaOfAPointHoldsAtEveryPixel)
{
    struct Case {
        double data;
        double sigma;
    };
    const Case cases[] = {
        {9.0, 3.0}, {2.25, 1.5}, {1e-200, 0.0}, {4e-200, 2e-100}, {0.0, 0.0}, {-4.0, 0.0}, {0.25, 0.5},
    };
    constexpr int kPeriod = static_cast<int>(std::size(cases));
    std::vector<double> data(kPixels);
    for (int i = 0; i < kPixels; ++i)
        data[static_cast<size_t>(i)] = cases[i % kPeriod].data;
    ASSERT_EQ(ctx.addPoint(1.0, 1.0, data, {}), Status::ok);
    hcal::PointData d;
    ASSERT_TRUE(ctx.pointData(0, d));
    for (int i = 0; i < kPixels; ++i)
        ASSERT_EQ(d.sigma[static_cast<size_t>(i)], cases[i % kPeriod].sigma) << i << ": " << cases[i % kPeriod].data;
}

TEST_F(ContextTest, PointOfATakenThicknessIsRefused)
{
    ASSERT_EQ(ctx.addPoint(2.0, 1.0, std::vector<double>(kPixels, 5.0), {}), Status::ok);
    ASSERT_EQ(ctx.addPoint(1.0, 1.0, std::vector<double>(kPixels, 9.0), {}), Status::ok);
    EXPECT_EQ(ctx.addPoint(2.0, 3.0, std::vector<double>(kPixels, 7.0), {}), Status::refused);
    EXPECT_TRUE(log.has("Error adding item to calibration. Item with the same value already exists."));
    const auto points = ctx.points();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].thickness, 1.0);
    EXPECT_EQ(points[1].time, 1.0);
    EXPECT_EQ(ctx.addPoint(3.0, 1.0, std::vector<double>(kPixels - 1, 7.0), {}), Status::badSize);
}

// A context takes no more points than a profile holds, so that a saved profile always loads again (the
// limit lowered here: at 256 points of 65536 pixels a test would take half a gigabyte).
TEST_F(ContextTest, NoMorePointsThanAProfileHolds)
{
    struct Limit {
        Limit() { hcal::CalibContext::setPointLimitForTests(3); }
        ~Limit() { hcal::CalibContext::setPointLimitForTests(0); }
    } limit;
    for (double t : {1.0, 2.0, 3.0})
        ASSERT_EQ(ctx.addPoint(t, 1.0, std::vector<double>(kPixels, t), {}), Status::ok);
    EXPECT_EQ(ctx.addPoint(4.0, 1.0, std::vector<double>(kPixels, 4.0), {}), Status::refused);
    EXPECT_TRUE(log.has("Error adding item to calibration. A calibration holds at most 3 items."));
    EXPECT_EQ(ctx.points().size(), 3u);
}

TEST_F(ContextTest, SelectionFollowsItsPointThroughInsertsAndRemovals)
{
    for (double t : {1.0, 3.0})
        ASSERT_EQ(ctx.addPoint(t, 1.0, std::vector<double>(kPixels, t), {}), Status::ok);
    ctx.selectPoint(1); // thickness 3
    ASSERT_EQ(ctx.addPoint(2.0, 1.0, std::vector<double>(kPixels, 2.0), {}), Status::ok);
    EXPECT_EQ(ctx.selectedPoint(), 2);
    ASSERT_EQ(ctx.removePoint(0), Status::ok);
    EXPECT_EQ(ctx.selectedPoint(), 1);
    std::vector<double> rate(kPixels);
    ASSERT_EQ(ctx.selectedPointRate(rate.data(), kPixels, false), Status::ok);
    EXPECT_EQ(rate[0], 3.0);
    ASSERT_EQ(ctx.removePoint(1), Status::ok);
    EXPECT_EQ(ctx.selectedPoint(), -1);
    EXPECT_EQ(ctx.selectedPointRate(rate.data(), kPixels, false), Status::refused);
}

TEST(ContextBind, AllocationFailureKeepsTheContext)
{
    hcaltest::LogRecorder log;
    hcal::CalibContext ctx(log.sink());
    ASSERT_EQ(ctx.bind(3, hcaltest::kOneChip), Status::ok);
    ASSERT_EQ(ctx.addPoint(1.0, 1.0, std::vector<double>(kPixels, 5.0), {}), Status::ok);
    hcal::CalibContext::setAllocationLimitForTests(kPixels * sizeof(double));
    EXPECT_EQ(ctx.bind(4, {4, 2, "X", "usb"}), Status::noMemory);
    hcal::CalibContext::setAllocationLimitForTests(0);
    EXPECT_TRUE(log.has("Error initializing calibration - Couldn't allocate memory for buffers"));
    EXPECT_EQ(ctx.devId(), 3);
    EXPECT_EQ(ctx.pixelCount(), kPixels);
    EXPECT_EQ(ctx.points().size(), 1u);

    for (const hcal::DeviceShape& bad : {hcal::DeviceShape{0, 1, "", ""}, hcal::DeviceShape{3, 2, "", ""},
                                         hcal::DeviceShape{1, 0, "", ""}, hcal::DeviceShape{40000, 1, "", ""}})
        EXPECT_EQ(ctx.bind(5, bad), Status::refused) << bad.chips << "/" << bad.rows;
    EXPECT_EQ(ctx.devId(), 3);
}

TEST(ContextBind, FourChipsMakeOneSquareMatrix)
{
    hcal::CalibContext ctx(nullptr);
    ASSERT_EQ(ctx.bind(0, {4, 2, "X", "usb"}), Status::ok);
    EXPECT_EQ(ctx.width(), 512);
    EXPECT_EQ(ctx.height(), 512);
    EXPECT_EQ(ctx.pixelCount(), 4 * kPixels);
}

} // namespace
