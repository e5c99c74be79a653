// The fit: the mask of usable pixels, the per-pixel curve parameters of each point, and the thickness,
// rate sigma and derivative of a rate read back through them. The per-pixel loops run on plain pointers,
// one instance per method, since they run for every pixel of every frame.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "calib_curves.h"
#include "calib_impl.h"

namespace hcal {

bool CalibContext::Impl::completePoint(Point& p)
{
    const size_t n = p.data.size();
    if (!allocateArray(p.rate, n) || !allocateArray(p.sigmaRate, n))
        return false;
    for (size_t i = 0; i < n; ++i) {
        p.rate[i] = p.data[i] / p.time;
        p.sigmaRate[i] = p.sigma[i] / p.time;
    }
    return true;
}

Status CalibContext::Impl::prepareFit(bool logRefusal)
{
    if (mask.empty()) {
        message("Error searching bad pixels. Not initialized.");
        return Status::notBound;
    }
    if (badCount < 0 && computeMask() < 0)
        return Status::notBound;
    if (!paramsValid)
        return computeParams(logRefusal);
    return Status::ok;
}

// A pixel is good when the first point's rate is above the rate of every later point.
int CalibContext::Impl::computeMask()
{
    if (mask.size() != static_cast<size_t>(pixels)) {
        message("Error searching bad pixels. Not initialized.");
        return -1;
    }
    std::fill(mask.begin(), mask.end(), uint8_t{1});
    badCount = 0;
    if (points.size() < 2)
        return 0;
    const double* first = points[0]->rate.data();
    for (size_t j = 1; j < points.size(); ++j) {
        const double* r = points[j]->rate.data();
        for (size_t i = 0; i < mask.size(); ++i)
            if (mask[i] && !(first[i] > r[i])) {
                mask[i] = 0;
                ++badCount;
            }
    }
    return 0;
}

namespace {

void markBad(std::vector<uint8_t>& mask, int& badCount, size_t i)
{
    if (mask[i]) {
        mask[i] = 0;
        ++badCount;
    }
}

} // namespace

Status CalibContext::Impl::computeParams(bool logRefusal)
{
    const size_t n = points.size();
    const size_t needed = static_cast<size_t>(methodParamCount(method));
    if (n < needed) {
        std::fill(corrected.begin(), corrected.end(), 0.0);
        std::fill(error.begin(), error.end(), 0.0);
        if (logRefusal)
            message("Error precomputing parameters values. Not enough calibration points.");
        return Status::notEnoughPoints;
    }
    tableValid = false;
    const size_t count = static_cast<size_t>(pixels);
    for (auto& p : points)
        for (size_t k = 0; k < p->param.size(); ++k) {
            if (k >= needed) {
                p->param[k] = {};
                continue;
            }
            if (p->param[k].size() != count && !allocateArray(p->param[k], count)) {
                message("Error creating arrays of calibration parameters. Cannot allocate memory.");
                return Status::noMemory;
            }
        }

    auto t = [&](size_t j) { return points[j]->thickness; };
    auto r = [&](size_t j) { return points[j]->rate.data(); };

    if (method == kLinear) {
        for (size_t j = 0; j + 1 < n; ++j) {
            const double* r0 = r(j);
            const double* r1 = r(j + 1);
            double* invSlope = points[j]->param[0].data();
            double* intercept = points[j]->param[1].data();
            for (size_t i = 0; i < count; ++i) {
                const curves::Line l = curves::lineThrough(t(j), r0[i], t(j + 1), r1[i]);
                invSlope[i] = 1.0 / l.slope;
                intercept[i] = l.intercept;
            }
        }
        points[n - 1]->param[0] = points[n - 2]->param[0];
        points[n - 1]->param[1] = points[n - 2]->param[1];
    } else if (method == kQuadratic) {
        for (size_t j = 1; j + 1 < n; ++j) {
            Point& p = *points[j];
            const double *r0 = r(j - 1), *r1 = r(j), *r2 = r(j + 1);
            for (size_t i = 0; i < count; ++i) {
                const curves::Parabola q = curves::parabolaThrough(t(j - 1), r0[i], t(j), r1[i], t(j + 1), r2[i]);
                if (!q.usable)
                    markBad(mask, badCount, i);
                p.param[0][i] = q.a;
                p.param[1][i] = q.b;
                p.param[2][i] = q.c;
            }
        }
        // The last point: the line through the last pair, in the a == 0 form.
        Point& last = *points[n - 1];
        const double *r0 = r(n - 2), *r1 = r(n - 1);
        for (size_t i = 0; i < count; ++i) {
            const curves::Line l = curves::lineThrough(t(n - 2), r0[i], t(n - 1), r1[i]);
            last.param[0][i] = 0.0;
            last.param[1][i] = l.slope;
            last.param[2][i] = l.intercept;
        }
    } else {
        for (size_t j = 1; j + 1 < n; ++j) {
            Point& p = *points[j];
            const curves::Spacing s = curves::spacingOf(t(j - 1), t(j), t(j + 1));
            const double *r0 = r(j - 1), *r1 = r(j), *r2 = r(j + 1);
            double *invA = p.param[0].data(), *invB = p.param[1].data(), *C = p.param[2].data();
            auto store = [&](size_t i, const curves::ExponentialFit& e) {
                if (!e.usable)
                    markBad(mask, badCount, i);
                invA[i] = e.invA;
                invB[i] = e.invB;
                C[i] = e.C;
            };
            size_t i = 0;
            for (; i + curves::kLanes <= count; i += curves::kLanes) {
                double B[curves::kLanes];
                bool found[curves::kLanes];
                curves::exponentFits(s, r0 + i, r1 + i, r2 + i, B, found);
                for (size_t k = 0; k < curves::kLanes; ++k)
                    store(i + k, curves::exponentialFitWith(s, r0[i + k], r2[i + k], found[k], B[k]));
            }
            for (; i < count; ++i)
                store(i, curves::exponentialFit(s, r0[i], r1[i], r2[i]));
        }
        Point& last = *points[n - 1];
        const double *r0 = r(n - 2), *r1 = r(n - 1);
        for (size_t i = 0; i < count; ++i) {
            const curves::Exponential e = curves::exponentialPair(t(n - 2), r0[i], t(n - 1), r1[i]);
            if (!e.usable)
                markBad(mask, badCount, i);
            last.param[0][i] = 1.0 / e.A;
            last.param[1][i] = 1.0 / e.B;
            last.param[2][i] = 0.0;
        }
    }
    if (method != kLinear)
        for (size_t k = 0; k < 3; ++k)
            points[0]->param[k] = points[1]->param[k];
    paramsValid = true;
    return Status::ok;
}

// ---- reading a thickness back ----

namespace {

// Whether v is kNoValue, by its bits: the same as v == kNoValue (no other value equals it), without the
// floating-point compare's test for NaN.
[[gnu::always_inline]] inline bool isNone(double v)
{
    return std::bit_cast<uint64_t>(v) == std::bit_cast<uint64_t>(kNoValue);
}

// What every pixel's read-back shares: the points' thicknesses and the extrapolation setting.
struct Curves {
    int n = 0;
    const double* thickness = nullptr;
    bool extrapolate = true;
};

// One pixel's calibration, its points' rates, rate sigmas and curve parameters, in one of two forms:
// the points' own arrays (one pixel looked up), or the pixel-major table, where a pixel's values lie
// together: its n rates, its n rate sigmas, then P parameters per point.
struct ColumnPoint {
    const double* rate;
    const double* sigmaRate;
    const double* param[3];
};

struct ColumnPixel {
    const ColumnPoint* points;
    size_t i;
    double rate(int j) const { return points[j].rate[i]; }
    double sigma(int j) const { return points[j].sigmaRate[i]; }
    double param(int j, int q) const { return points[j].param[q][i]; }
};

template <int P>
struct PackedPixel {
    PackedPixel(const double* at, int n) : rates(at), sigmas(at + n), params(at + 2 * n) {}
    const double* rates;
    const double* sigmas;
    const double* params;
    double rate(int j) const { return rates[j]; }
    double sigma(int j) const { return sigmas[j]; }
    double param(int j, int q) const { return params[P * j + q]; }
};

template <int M> constexpr int kParams = M == kLinear ? 2 : 3;

template <int M, class Px> [[gnu::always_inline]] inline
double invertAt(const Px& px, int j, double x)
{
    if constexpr (M == kLinear)
        return curves::invertLine(px.param(j, 0), px.param(j, 1), x);
    else if constexpr (M == kQuadratic)
        return curves::invertParabola(px.param(j, 0), px.param(j, 1), px.param(j, 2), x);
    else
        return curves::invertExponential(px.param(j, 0), px.param(j, 1), px.param(j, 2), x);
}

template <int M, class Px> [[gnu::always_inline]] inline
double derivativeAt(const Px& px, int j, double x)
{
    if constexpr (M == kLinear)
        return curves::finiteOrNone(px.param(j, 0));
    else if constexpr (M == kQuadratic)
        return curves::parabolaDerivative(px.param(j, 0), px.param(j, 1), px.param(j, 2), x);
    else
        return curves::exponentialDerivative(px.param(j, 1), px.param(j, 2), x);
}

// Where a rate lies among the points' rates at a pixel: the first point whose rate is below it, so
// 0 = above the first point, n = at or below the last; otherwise between points k - 1 and k, whose rates
// differ by 1 / invSpan (kept, so that the blends of one segment share one division). floor is the least
// rate of the points before k: a good pixel's rates need not fall all the way (only the first must be the
// highest), so another rate lies in the same segment only when it is not above floor either.
struct Segment {
    int k = 0;
    double invSpan = 0.0;
    double floor = HUGE_VAL;
};

template <class Px> [[gnu::always_inline]] inline Segment segmentOf(const Curves& c, const Px& px, double x)
{
    Segment s;
    while (s.k < c.n && !(px.rate(s.k) < x)) {
        const double r = px.rate(s.k);
        s.floor = r < s.floor ? r : s.floor; // one min instruction; a NaN rate is never below anything
        ++s.k;
    }
    if (s.k > 0 && s.k < c.n)
        s.invSpan = 1.0 / (px.rate(s.k - 1) - px.rate(s.k));
    return s;
}

// The segment of x, reusing a known one when x lies in it.
template <class Px> [[gnu::always_inline]] inline
Segment segmentNear(const Curves& c, const Px& px, double x, const Segment& known)
{
    const int k = known.k;
    const bool below = !(known.floor < x);
    const bool above = k == c.n || px.rate(k) < x;
    return below && above ? known : segmentOf(c, px, x);
}

// Blends the answers of the points at both ends of a segment: the upper point's answer weighs with the
// distance of the rate from the lower point's rate, and the other way round.
[[gnu::always_inline]] inline double blend(double upper, double lower, double rateUpper, double rateLower, double x, double invSpan)
{
    if (isNone(upper) || isNone(lower))
        return kNoValue;
    return curves::finiteOrNone(((x - rateLower) * upper + (rateUpper - x) * lower) * invSpan);
}

// Thickness of rate x at a pixel, in segment s. Bad pixels and rates of 0 or below are the callers'.
template <int M, class Px> [[gnu::always_inline]] inline
double thicknessIn(const Curves& c, const Px& px, double x, const Segment& s)
{
    const int n = c.n;
    if (n == 0)
        return x;
    const int k = s.k;
    if (k == 0)
        return c.extrapolate ? invertAt<M>(px, 0, x) : c.thickness[0];
    if (k == n)
        return c.extrapolate ? invertAt<M>(px, n - 1, x) : c.thickness[n - 1];
    if constexpr (M == kLinear)
        return invertAt<M>(px, k - 1, x);
    else
        return blend(invertAt<M>(px, k - 1, x), invertAt<M>(px, k, x), px.rate(k - 1), px.rate(k), x, s.invSpan);
}

// Thickness of rate x at a pixel (good: the mask's); 0 for a bad pixel or a rate of 0 or below.
// near: a segment to try first.
template <int M, class Px> [[gnu::always_inline]] inline
double thicknessOf(const Curves& c, const Px& px, bool good, double x, const Segment* near = nullptr)
{
    if (!std::isfinite(x))
        return kNoValue;
    if (!good || x <= 0.0)
        return 0.0;
    return thicknessIn<M>(c, px, x, near ? segmentNear(c, px, x, *near) : segmentOf(c, px, x));
}

// The calibration's rate sigma at rate x (segment s): the neighbouring points' blended, scaled with the
// rate beyond the ends.
template <class Px> [[gnu::always_inline]] inline
double rateSigmaIn(const Curves& c, const Px& px, double x, const Segment& s)
{
    const int n = c.n;
    if (n == 0)
        return x > 0.0 ? std::sqrt(x) : 0.0;
    const int k = s.k;
    if (k == 0)
        return px.sigma(0) * x / px.rate(0);
    if (k == n)
        return px.sigma(n - 1) * x / px.rate(n - 1);
    return blend(px.sigma(k - 1), px.sigma(k), px.rate(k - 1), px.rate(k), x, s.invSpan);
}

// dt/dr at rate x (segment s); 0 where the thickness does not follow the rate.
template <int M, class Px> [[gnu::always_inline]] inline
double derivativeIn(const Curves& c, const Px& px, double x, const Segment& s)
{
    const int n = c.n;
    if (n == 0)
        return 1.0;
    const int k = s.k;
    if (k == 0)
        return c.extrapolate ? derivativeAt<M>(px, 0, x) : 0.0;
    if (k == n)
        return c.extrapolate ? derivativeAt<M>(px, n - 1, x) : 0.0;
    if constexpr (M == kLinear)
        return derivativeAt<M>(px, k - 1, x);
    else
        return blend(derivativeAt<M>(px, k - 1, x), derivativeAt<M>(px, k, x), px.rate(k - 1), px.rate(k), x,
                     s.invSpan);
}

struct Input {
    const double* counts;
    const double* sigma;
    double time;
    double* corrected;
    double* error;
    const uint8_t* mask;
    size_t pixels;
    bool byDerivative;
};

// Bad pixels and rates of 0 or below are thickness 0 with no error; no rate has none. true: pixel i is
// one of them, and done.
[[gnu::always_inline]] inline bool storedWithoutCurve(const Input& in, size_t i, double x)
{
    if (in.mask[i] && x > 0.0 && std::isfinite(x))
        return false;
    const double t = std::isfinite(x) ? 0.0 : kNoValue;
    in.corrected[i] = t;
    in.error[i] = t;
    return true;
}

// The input's sigma of rate x at pixel i, as a rate (its sigma / time; when it has none, the counts
// themselves).
[[gnu::always_inline]] inline double inputRateSigma(const Input& in, size_t i, double x)
{
    const double inSigma = in.sigma[i] > 0.0 ? in.sigma[i] : x * in.time;
    return inSigma / in.time;
}

// The sigma of rate x: the input's (inRate) and the calibration's at this rate.
template <class Px> [[gnu::always_inline]] inline
double sigmaWith(const Curves& c, const Px& px, double inRate, double x, const Segment& k)
{
    const double ptRate = rateSigmaIn(c, px, x, k);
    const double sum = inRate * inRate + ptRate * ptRate;
    return sum > 1e-50 ? std::sqrt(sum) : 0.0;
}

// The same at pixel i.
template <class Px> [[gnu::always_inline]] inline
double sigmaOf(const Curves& c, const Px& px, const Input& in, size_t i, double x, const Segment& k)
{
    return sigmaWith(c, px, inputRateSigma(in, i, x), x, k);
}

// Thickness and error of pixel i.
template <int M, class Px> [[gnu::always_inline]] inline
void correctPixel(const Curves& c, const Px& px, const Input& in, size_t i)
{
    const double x = in.counts[i] / in.time;
    if (storedWithoutCurve(in, i, x))
        return;
    const Segment k = segmentOf(c, px, x);
    const double t = thicknessIn<M>(c, px, x, k);
    in.corrected[i] = t;
    if (isNone(t)) {
        in.error[i] = kNoValue;
        return;
    }
    const double s = sigmaOf(c, px, in, i, x, k);
    double e;
    if (in.byDerivative) {
        const double dt = derivativeIn<M>(c, px, x, k);
        e = isNone(dt) ? kNoValue : dt < 0.0 ? s * -dt : 0.0;
    } else {
        const double lo = thicknessOf<M>(c, px, true, x - s, &k);
        const double hi = thicknessOf<M>(c, px, true, x + s, &k);
        e = isNone(lo) || isNone(hi) ? kNoValue : std::fabs(lo - hi) / 2.0;
    }
    in.error[i] = curves::finiteOrNone(e);
}

// The Exponential error by difference takes six logarithms per pixel where x - s, x and x + s lie between
// the same two points, as they do for most pixels. Called in the middle of a pixel's work, each logarithm
// made the pixel store and load again what it held; here a block of pixels first finds its rates,
// segments, sigmas and the logarithms' arguments, then takes each pixel's logarithms and reads its
// thicknesses out without the checks of correctPixel. What those checks catch shows in the results read
// this way: an argument <= 0 is sorted out before, an infinity or a NaN is carried through by the
// arithmetic, and a value equal to kNoValue is looked for. Such a pixel, like every pixel of another kind,
// goes through correctPixel: the values are correctPixel's, bit for bit (same operations, same order).
using ExpPixel = PackedPixel<kParams<kExponential>>;

// A pixel whose three reads (x, x - s, x + s) lie in interior segment k.
struct ExpInside {
    size_t i;
    int k;
    double x, lo, hi;
    double invSpan;
};

// Reads the block's inside pixels from their logarithms' arguments, six per pixel (see args). The pixel's
// logarithms come first, while it holds nothing else that a call would make it store.
void readInside(const Curves& c, const double* table, size_t stride, const Input& in, const ExpInside* inside,
                size_t count, const double* args)
{
    for (size_t q = 0; q < count; ++q) {
        const double* a = args + 6 * q;
        const double l[6] = {std::log(a[0]), std::log(a[1]), std::log(a[2]),
                             std::log(a[3]), std::log(a[4]), std::log(a[5])};
        const ExpInside& p = inside[q];
        const ExpPixel px{table + p.i * stride, c.n};
        const double invBUpper = px.param(p.k - 1, 1);
        const double invBLower = px.param(p.k, 1);
        const double rateUpper = px.rate(p.k - 1);
        const double rateLower = px.rate(p.k);
        // invertExponential of both points, blended.
        auto at = [&](double y, double logUpper, double logLower) {
            return ((y - rateLower) * (logUpper * invBUpper) + (rateUpper - y) * (logLower * invBLower)) * p.invSpan;
        };
        const double t = at(p.x, l[0], l[1]);
        const double lo = at(p.lo, l[2], l[3]);
        const double hi = at(p.hi, l[4], l[5]);
        const double e = std::fabs(lo - hi) / 2.0;
        if (!std::isfinite(t) || !std::isfinite(e) || isNone(t) || isNone(lo) || isNone(hi)) {
            correctPixel<kExponential>(c, px, in, p.i);
            continue;
        }
        in.corrected[p.i] = t;
        in.error[p.i] = e;
    }
}

// The rates and input rate sigmas (inputRateSigma) of pixels first .. end - 1, the same bits, in a loop
// of their own: their divisions then need not wait for the other steps of a pixel. Two at a time where
// SSE2 is there: the divider, which a pixel's other division and root need as well, is one of the limits
// of the correction's speed.
void blockRates(const Input& in, size_t first, size_t end, double* rates, double* inRates)
{
    size_t i = first;
#if defined(__SSE2__)
    const __m128d time = _mm_set1_pd(in.time);
    for (; i + 2 <= end; i += 2) {
        const __m128d x = _mm_div_pd(_mm_loadu_pd(in.counts + i), time);
        const __m128d sigma = _mm_loadu_pd(in.sigma + i);
        const __m128d given = _mm_cmpgt_pd(sigma, _mm_setzero_pd()); // else x * time
        const __m128d inSigma = _mm_or_pd(_mm_and_pd(given, sigma), _mm_andnot_pd(given, _mm_mul_pd(x, time)));
        _mm_storeu_pd(rates + (i - first), x);
        _mm_storeu_pd(inRates + (i - first), _mm_div_pd(inSigma, time));
    }
#endif
    for (; i < end; ++i) {
        rates[i - first] = in.counts[i] / in.time;
        inRates[i - first] = inputRateSigma(in, i, rates[i - first]);
    }
}

void correctExponentialByDifference(const Curves& c, const double* table, const Input& in)
{
    const size_t stride = static_cast<size_t>(c.n) * (2 + kParams<kExponential>);
    constexpr size_t kBlock = 64;
    ExpInside inside[kBlock];
    // Per inside pixel, at x, x - s and x + s in turn: the upper point's argument, then the lower point's.
    double args[kBlock * 6];
    // A logarithm times a 1/B this large in magnitude is 0 or far above kNoValue (|ln a| >= 2^-53 for
    // every a != 1), so that the inverses need no test for it.
    constexpr double kLeastInvB = 1e-280;
    for (size_t first = 0; first < in.pixels; first += kBlock) {
        const size_t end = std::min(first + kBlock, in.pixels);
        double rates[kBlock], inRates[kBlock];
        blockRates(in, first, end, rates, inRates);
        size_t count = 0;
        for (size_t i = first; i < end; ++i) {
            const ExpPixel px{table + i * stride, c.n};
            const double x = rates[i - first];
            if (storedWithoutCurve(in, i, x))
                continue;
            const Segment seg = segmentOf(c, px, x);
            const int k = seg.k;
            if (k == 0 || k == c.n) {
                correctPixel<kExponential>(c, px, in, i);
                continue;
            }
            const double s = sigmaWith(c, px, inRates[i - first], x, seg);
            const double lo = x - s;
            const double hi = x + s;
            // invertExponential's arguments (y - C) / A of both points.
            const double cUpper = px.param(k - 1, 2), invAUpper = px.param(k - 1, 0);
            const double cLower = px.param(k, 2), invALower = px.param(k, 0);
            const double a[6] = {(x - cUpper) * invAUpper,  (x - cLower) * invALower, (lo - cUpper) * invAUpper,
                                 (lo - cLower) * invALower, (hi - cUpper) * invAUpper, (hi - cLower) * invALower};
            // Inside: lo <= x <= hi, so both ends lie in segment k, as finite rates above 0, when lo is above
            // 0 and the lower point's rate, hi finite and not above any earlier point's rate. No logarithm of
            // 0 or below (it would set errno); the arguments at x lie between those at lo and hi.
            const bool simple = lo > 0.0 && std::isfinite(hi) && !(seg.floor < hi) && px.rate(k) < lo &&
                                a[2] > 0.0 && a[3] > 0.0 && a[4] > 0.0 && a[5] > 0.0 &&
                                std::fabs(px.param(k - 1, 1)) >= kLeastInvB && std::fabs(px.param(k, 1)) >= kLeastInvB;
            if (!simple) {
                correctPixel<kExponential>(c, px, in, i);
                continue;
            }
            std::copy(a, a + 6, args + 6 * count);
            inside[count++] = {i, k, x, lo, hi, seg.invSpan};
        }
        readInside(c, table, stride, in, inside, count, args);
    }
}

template <int M>
void correctPacked(const Curves& c, const double* table, const Input& in)
{
    if constexpr (M == kExponential)
        if (!in.byDerivative && c.n > 0)
            return correctExponentialByDifference(c, table, in);
    const size_t stride = static_cast<size_t>(c.n) * (2 + kParams<M>);
    for (size_t i = 0; i < in.pixels; ++i)
        correctPixel<M>(c, PackedPixel<kParams<M>>{table + i * stride, c.n}, in, i);
}

template <int M>
void correctColumns(const Curves& c, const ColumnPoint* points, const Input& in)
{
    for (size_t i = 0; i < in.pixels; ++i)
        correctPixel<M>(c, ColumnPixel{points, i}, in, i);
}

} // namespace

// The pixel-major table of the fit, made once per fit; false when there is no memory for it (the
// correction then reads the points' arrays).
bool CalibContext::Impl::ensureTable()
{
    if (tableValid)
        return true;
    const size_t n = points.size();
    const size_t params = static_cast<size_t>(methodParamCount(method));
    const size_t stride = n * (2 + params);
    const size_t count = static_cast<size_t>(pixels);
    if (table.size() != count * stride && !allocateArray(table, count * stride)) {
        table = {};
        return false;
    }
    // Pixel by pixel, so that the table is written in order (column by column, every pass would touch
    // all of it).
    std::vector<const double*> from(stride);
    for (size_t j = 0; j < n; ++j) {
        const Point& p = *points[j];
        from[j] = p.rate.data();
        from[n + j] = p.sigmaRate.data();
        for (size_t q = 0; q < params; ++q)
            from[2 * n + params * j + q] = p.param[q].data();
    }
    double* at = table.data();
    for (size_t i = 0; i < count; ++i)
        for (size_t v = 0; v < stride; ++v)
            *at++ = from[v][i];
    tableValid = true;
    return true;
}

namespace {

std::vector<ColumnPoint> columnsOf(const std::vector<std::unique_ptr<CalibContext::Point>>& points, int method)
{
    std::vector<ColumnPoint> out;
    out.reserve(points.size());
    const size_t params = static_cast<size_t>(methodParamCount(method));
    for (const auto& p : points)
        out.push_back({p->rate.data(), p->sigmaRate.data(),
                       {p->param[0].data(), p->param[1].data(), params > 2 ? p->param[2].data() : nullptr}});
    return out;
}

} // namespace

void CalibContext::Impl::correctInput()
{
    thicknesses.resize(points.size());
    for (size_t j = 0; j < points.size(); ++j)
        thicknesses[j] = points[j]->thickness;
    const Curves c{static_cast<int>(points.size()), thicknesses.data(), extrapolate};
    const Input in{input.data(),    inputSigma.data(), inputTime, corrected.data(), error.data(),
                   mask.data(),     corrected.size(),  errorByDerivative};
    if (ensureTable()) {
        switch (method) {
        case kLinear: correctPacked<kLinear>(c, table.data(), in); break;
        case kQuadratic: correctPacked<kQuadratic>(c, table.data(), in); break;
        default: correctPacked<kExponential>(c, table.data(), in); break;
        }
        return;
    }
    const std::vector<ColumnPoint> columns = columnsOf(points, method);
    switch (method) {
    case kLinear: correctColumns<kLinear>(c, columns.data(), in); break;
    case kQuadratic: correctColumns<kQuadratic>(c, columns.data(), in); break;
    default: correctColumns<kExponential>(c, columns.data(), in); break;
    }
}

double CalibContext::Impl::thicknessAt(int pixel, double rate) const
{
    const std::vector<ColumnPoint> columns = columnsOf(points, method);
    std::vector<double> t(points.size());
    for (size_t j = 0; j < points.size(); ++j)
        t[j] = points[j]->thickness;
    const Curves c{static_cast<int>(points.size()), t.data(), extrapolate};
    const size_t i = static_cast<size_t>(pixel);
    const ColumnPixel px{columns.data(), i};
    const bool good = mask[i];
    switch (method) {
    case kLinear: return thicknessOf<kLinear>(c, px, good, rate);
    case kQuadratic: return thicknessOf<kQuadratic>(c, px, good, rate);
    default: return thicknessOf<kExponential>(c, px, good, rate);
    }
}

} // namespace hcal
