// The fit: the mask of usable pixels, the per-pixel curve parameters of each point, and the thickness,
// rate sigma and derivative of a rate read back through them. The per-pixel loops run on plain pointers
// into the points' arrays, one instance per method, since they run for every pixel of every frame.
#include <algorithm>
#include <cmath>

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

Status CalibContext::Impl::prepareFit()
{
    if (mask.empty()) {
        message("Error searching bad pixels. Not initialized.");
        return Status::notBound;
    }
    if (badCount < 0 && computeMask() < 0)
        return Status::notBound;
    if (!paramsValid)
        return computeParams();
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

Status CalibContext::Impl::computeParams()
{
    const size_t n = points.size();
    const size_t needed = static_cast<size_t>(methodParamCount(method));
    if (n < needed) {
        std::fill(corrected.begin(), corrected.end(), 0.0);
        std::fill(error.begin(), error.end(), 0.0);
        message("Error precomputing parameters values. Not enough calibration points.");
        return Status::notEnoughPoints;
    }
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

// One point as the per-pixel loops read it.
struct PointView {
    const double* rate;
    const double* sigmaRate;
    const double* p0;
    const double* p1;
    const double* p2;
    double thickness;
};

struct FitView {
    std::vector<PointView> points;
    const uint8_t* mask = nullptr;
    bool extrapolate = true;
    int n() const { return static_cast<int>(points.size()); }
};

template <int M> [[gnu::always_inline]] inline
double invertAt(const PointView& p, size_t i, double x)
{
    if constexpr (M == kLinear)
        return curves::invertLine(p.p0[i], p.p1[i], x);
    else if constexpr (M == kQuadratic)
        return curves::invertParabola(p.p0[i], p.p1[i], p.p2[i], x);
    else
        return curves::invertExponential(p.p0[i], p.p1[i], p.p2[i], x);
}

template <int M> [[gnu::always_inline]] inline
double derivativeAt(const PointView& p, size_t i, double x)
{
    if constexpr (M == kLinear)
        return curves::finiteOrNone(p.p0[i]);
    else if constexpr (M == kQuadratic)
        return curves::parabolaDerivative(p.p0[i], p.p1[i], p.p2[i], x);
    else
        return curves::exponentialDerivative(p.p1[i], p.p2[i], x);
}

// Where a rate lies among the points' rates at a pixel: the first point whose rate is below it, so
// 0 = above the first point, n = at or below the last; otherwise between points k - 1 and k, whose rates
// differ by 1 / invSpan (kept, so that the blends of one segment share one division).
struct Segment {
    int k = 0;
    double invSpan = 0.0;
};

[[gnu::always_inline]] inline Segment segmentOf(const FitView& f, size_t i, double x)
{
    const int n = f.n();
    Segment s;
    while (s.k < n && !(f.points[static_cast<size_t>(s.k)].rate[i] < x))
        ++s.k;
    if (s.k > 0 && s.k < n)
        s.invSpan = 1.0 / (f.points[static_cast<size_t>(s.k - 1)].rate[i] - f.points[static_cast<size_t>(s.k)].rate[i]);
    return s;
}

// The segment of x, reusing a known one when x lies in it.
[[gnu::always_inline]] inline Segment segmentNear(const FitView& f, size_t i, double x, const Segment& known)
{
    const int n = f.n();
    const int k = known.k;
    const bool below = k == 0 || !(f.points[static_cast<size_t>(k - 1)].rate[i] < x);
    const bool above = k == n || f.points[static_cast<size_t>(k)].rate[i] < x;
    return below && above ? known : segmentOf(f, i, x);
}

// Blends the answers of the points at both ends of a segment: the upper point's answer weighs with the
// distance of the rate from the lower point's rate, and the other way round.
[[gnu::always_inline]] inline double blend(double upper, double lower, double rateUpper, double rateLower, double x, double invSpan)
{
    if (upper == kNoValue || lower == kNoValue)
        return kNoValue;
    return curves::finiteOrNone(((x - rateLower) * upper + (rateUpper - x) * lower) * invSpan);
}

// Thickness of rate x at pixel i, in segment s. Bad pixels and rates of 0 or below are the callers'.
template <int M> [[gnu::always_inline]] inline
double thicknessIn(const FitView& f, size_t i, double x, const Segment& s)
{
    const int n = f.n();
    if (n == 0)
        return x;
    const PointView* p = f.points.data();
    const int k = s.k;
    if (k == 0)
        return f.extrapolate ? invertAt<M>(p[0], i, x) : p[0].thickness;
    if (k == n)
        return f.extrapolate ? invertAt<M>(p[n - 1], i, x) : p[n - 1].thickness;
    if constexpr (M == kLinear)
        return invertAt<M>(p[k - 1], i, x);
    else
        return blend(invertAt<M>(p[k - 1], i, x), invertAt<M>(p[k], i, x), p[k - 1].rate[i], p[k].rate[i], x,
                     s.invSpan);
}

// Thickness of rate x at pixel i; 0 for a bad pixel or a rate of 0 or below. near: a segment to try first.
template <int M> [[gnu::always_inline]] inline
double thicknessOf(const FitView& f, size_t i, double x, const Segment* near = nullptr)
{
    if (!std::isfinite(x))
        return kNoValue;
    if (!f.mask[i] || x <= 0.0)
        return 0.0;
    return thicknessIn<M>(f, i, x, near ? segmentNear(f, i, x, *near) : segmentOf(f, i, x));
}

// The calibration's rate sigma at rate x (segment s): the neighbouring points' blended, scaled with the
// rate beyond the ends.
[[gnu::always_inline]] inline double rateSigmaIn(const FitView& f, size_t i, double x, const Segment& s)
{
    const int n = f.n();
    if (n == 0)
        return x > 0.0 ? std::sqrt(x) : 0.0;
    const PointView* p = f.points.data();
    const int k = s.k;
    if (k == 0)
        return p[0].sigmaRate[i] * x / p[0].rate[i];
    if (k == n)
        return p[n - 1].sigmaRate[i] * x / p[n - 1].rate[i];
    return blend(p[k - 1].sigmaRate[i], p[k].sigmaRate[i], p[k - 1].rate[i], p[k].rate[i], x, s.invSpan);
}

// dt/dr at rate x (segment s); 0 where the thickness does not follow the rate.
template <int M> [[gnu::always_inline]] inline
double derivativeIn(const FitView& f, size_t i, double x, const Segment& s)
{
    const int n = f.n();
    if (n == 0)
        return 1.0;
    const PointView* p = f.points.data();
    const int k = s.k;
    if (k == 0)
        return f.extrapolate ? derivativeAt<M>(p[0], i, x) : 0.0;
    if (k == n)
        return f.extrapolate ? derivativeAt<M>(p[n - 1], i, x) : 0.0;
    if constexpr (M == kLinear)
        return derivativeAt<M>(p[k - 1], i, x);
    else
        return blend(derivativeAt<M>(p[k - 1], i, x), derivativeAt<M>(p[k], i, x), p[k - 1].rate[i], p[k].rate[i],
                     x, s.invSpan);
}

FitView viewOf(const std::vector<std::unique_ptr<CalibContext::Point>>& points, const uint8_t* mask, bool extrapolate,
               int method)
{
    FitView f;
    f.mask = mask;
    f.extrapolate = extrapolate;
    f.points.reserve(points.size());
    const size_t params = static_cast<size_t>(methodParamCount(method));
    for (const auto& p : points)
        f.points.push_back({p->rate.data(), p->sigmaRate.data(), p->param[0].data(), p->param[1].data(),
                            params > 2 ? p->param[2].data() : nullptr, p->thickness});
    return f;
}

struct Input {
    const double* counts;
    const double* sigma;
    double time;
    double* corrected;
    double* error;
    size_t pixels;
    bool byDerivative;
};

template <int M> [[gnu::always_inline]] inline
void correctAll(const FitView& f, const Input& in)
{
    for (size_t i = 0; i < in.pixels; ++i) {
        const double x = in.counts[i] / in.time;
        if (!f.mask[i] || !(x > 0.0) || !std::isfinite(x)) {
            // Bad pixels and rates of 0 or below are thickness 0 with no error; no rate has none.
            const double t = std::isfinite(x) ? 0.0 : kNoValue;
            in.corrected[i] = t;
            in.error[i] = t;
            continue;
        }
        const Segment k = segmentOf(f, i, x);
        const double t = thicknessIn<M>(f, i, x, k);
        in.corrected[i] = t;
        if (t == kNoValue) {
            in.error[i] = kNoValue;
            continue;
        }
        // The rate's sigma: the input's (counts / time; when it has none, the counts themselves) and the
        // calibration's at this rate.
        const double inSigma = in.sigma[i] > 0.0 ? in.sigma[i] : x * in.time;
        const double inRate = inSigma / in.time;
        const double ptRate = rateSigmaIn(f, i, x, k);
        const double sum = inRate * inRate + ptRate * ptRate;
        const double s = sum > 1e-50 ? std::sqrt(sum) : 0.0;
        double e;
        if (in.byDerivative) {
            const double dt = derivativeIn<M>(f, i, x, k);
            e = dt == kNoValue ? kNoValue : dt < 0.0 ? s * -dt : 0.0;
        } else {
            const double lo = thicknessOf<M>(f, i, x - s, &k);
            const double hi = thicknessOf<M>(f, i, x + s, &k);
            e = lo == kNoValue || hi == kNoValue ? kNoValue : std::fabs(lo - hi) / 2.0;
        }
        in.error[i] = curves::finiteOrNone(e);
    }
}

} // namespace

void CalibContext::Impl::correctInput()
{
    const FitView f = viewOf(points, mask.data(), extrapolate, method);
    const Input in{input.data(),  inputSigma.data(), inputTime, corrected.data(), error.data(),
                   corrected.size(), errorByDerivative};
    switch (method) {
    case kLinear: correctAll<kLinear>(f, in); break;
    case kQuadratic: correctAll<kQuadratic>(f, in); break;
    default: correctAll<kExponential>(f, in); break;
    }
}

double CalibContext::Impl::thicknessAt(int pixel, double rate) const
{
    const FitView f = viewOf(points, mask.data(), extrapolate, method);
    const size_t i = static_cast<size_t>(pixel);
    switch (method) {
    case kLinear: return thicknessOf<kLinear>(f, i, rate);
    case kQuadratic: return thicknessOf<kQuadratic>(f, i, rate);
    default: return thicknessOf<kExponential>(f, i, rate);
    }
}

} // namespace hcal
