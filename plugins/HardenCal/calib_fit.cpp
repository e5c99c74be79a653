// The fit: the mask of usable pixels, the per-pixel curve parameters of each point, and the thickness,
// rate sigma and derivative of a rate read back through them.
#include <algorithm>
#include <cmath>

#include "calib_curves.h"
#include "calib_impl.h"

namespace hcal {



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
    const Point& first = *points[0];
    for (size_t j = 1; j < points.size(); ++j) {
        const Point& p = *points[j];
        for (size_t i = 0; i < mask.size(); ++i)
            if (mask[i] && !(first.data[i] / first.time > p.data[i] / p.time)) {
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

    auto rate = [&](size_t j, size_t i) { return points[j]->data[i] / points[j]->time; };
    auto t = [&](size_t j) { return points[j]->thickness; };

    if (method == kLinear) {
        for (size_t j = 0; j + 1 < n; ++j) {
            Point& p = *points[j];
            for (size_t i = 0; i < count; ++i) {
                const curves::Line l = curves::lineThrough(t(j), rate(j, i), t(j + 1), rate(j + 1, i));
                p.param[0][i] = l.slope;
                p.param[1][i] = l.intercept;
            }
        }
        points[n - 1]->param[0] = points[n - 2]->param[0];
        points[n - 1]->param[1] = points[n - 2]->param[1];
    } else if (method == kQuadratic) {
        for (size_t j = 1; j + 1 < n; ++j) {
            Point& p = *points[j];
            for (size_t i = 0; i < count; ++i) {
                const curves::Parabola q =
                    curves::parabolaThrough(t(j - 1), rate(j - 1, i), t(j), rate(j, i), t(j + 1), rate(j + 1, i));
                if (!q.usable)
                    markBad(mask, badCount, i);
                p.param[0][i] = q.a;
                p.param[1][i] = q.b;
                p.param[2][i] = q.c;
            }
        }
        // The last point: the line through the last pair, in the a == 0 form.
        Point& last = *points[n - 1];
        for (size_t i = 0; i < count; ++i) {
            const curves::Line l = curves::lineThrough(t(n - 2), rate(n - 2, i), t(n - 1), rate(n - 1, i));
            last.param[0][i] = 0.0;
            last.param[1][i] = l.slope;
            last.param[2][i] = l.intercept;
        }
    } else {
        for (size_t j = 1; j + 1 < n; ++j) {
            Point& p = *points[j];
            for (size_t i = 0; i < count; ++i) {
                const curves::Exponential e =
                    curves::exponentialThrough(t(j - 1), rate(j - 1, i), t(j), rate(j, i), t(j + 1), rate(j + 1, i));
                if (!e.usable)
                    markBad(mask, badCount, i);
                p.param[0][i] = e.A;
                p.param[1][i] = e.B;
                p.param[2][i] = e.C;
            }
        }
        Point& last = *points[n - 1];
        for (size_t i = 0; i < count; ++i) {
            const curves::Exponential e = curves::exponentialPair(t(n - 2), rate(n - 2, i), t(n - 1), rate(n - 1, i));
            if (!e.usable)
                markBad(mask, badCount, i);
            last.param[0][i] = e.A;
            last.param[1][i] = e.B;
            last.param[2][i] = 0.0;
        }
    }
    if (method != kLinear)
        for (size_t k = 0; k < 3; ++k)
            points[0]->param[k] = points[1]->param[k];
    paramsValid = true;
    return Status::ok;
}

void CalibContext::Impl::ratesAt(int pixel, double* rates) const
{
    const size_t i = static_cast<size_t>(pixel);
    for (size_t j = 0; j < points.size(); ++j)
        rates[j] = points[j]->data[i] / points[j]->time;
}

double CalibContext::Impl::invertAt(int point, int pixel, double rate) const
{
    const Point& p = *points[static_cast<size_t>(point)];
    const size_t i = static_cast<size_t>(pixel);
    switch (method) {
    case kLinear: return curves::invertLine(p.param[0][i], p.param[1][i], rate);
    case kQuadratic: return curves::invertParabola(p.param[0][i], p.param[1][i], p.param[2][i], rate);
    default: return curves::invertExponential(p.param[0][i], p.param[1][i], p.param[2][i], rate);
    }
}

double CalibContext::Impl::derivativeAt(int point, int pixel, double rate) const
{
    const Point& p = *points[static_cast<size_t>(point)];
    const size_t i = static_cast<size_t>(pixel);
    switch (method) {
    case kLinear: return p.param[0][i] == 0.0 ? kNoValue : curves::finiteOrNone(1.0 / p.param[0][i]);
    case kQuadratic: return curves::parabolaDerivative(p.param[0][i], p.param[1][i], p.param[2][i], rate);
    default: return curves::exponentialDerivative(p.param[0][i], p.param[1][i], p.param[2][i], rate);
    }
}

namespace {

// Where a rate lies among the points' rates at a pixel: the first point whose rate is below it, so
// 0 = above the first point, n = at or below the last; otherwise between points k - 1 and k.
int segmentOf(const double* rates, int n, double rate)
{
    int k = 0;
    while (k < n && !(rates[k] < rate))
        ++k;
    return k;
}

// Blends the answers of the points at both ends of a segment: the upper point's answer weighs with the
// distance of the rate from the lower point's rate, and the other way round.
double blend(double upper, double lower, double rateUpper, double rateLower, double rate)
{
    if (upper == kNoValue || lower == kNoValue)
        return kNoValue;
    const double wUpper = rate - rateLower; // weight of the upper (thinner) point
    const double wLower = rateUpper - rate;
    return curves::finiteOrNone((wUpper * upper + wLower * lower) / (wUpper + wLower));
}

} // namespace

double CalibContext::Impl::thickness(int pixel, const double* rates, double rate) const
{
    if (!std::isfinite(rate))
        return kNoValue;
    if (!mask[static_cast<size_t>(pixel)] || rate <= 0.0)
        return 0.0;
    const int n = static_cast<int>(points.size());
    if (n == 0)
        return rate;
    const int k = segmentOf(rates, n, rate);
    if (k == 0)
        return extrapolate ? invertAt(0, pixel, rate) : points[0]->thickness;
    if (k == n)
        return extrapolate ? invertAt(n - 1, pixel, rate) : points[static_cast<size_t>(n - 1)]->thickness;
    const int j = k - 1;
    if (method == kLinear)
        return invertAt(j, pixel, rate);
    return blend(invertAt(j, pixel, rate), invertAt(k, pixel, rate), rates[j], rates[k], rate);
}

double CalibContext::Impl::rateSigma(int pixel, const double* rates, double rate) const
{
    const int n = static_cast<int>(points.size());
    if (n == 0)
        return rate > 0.0 ? std::sqrt(rate) : 0.0;
    const size_t i = static_cast<size_t>(pixel);
    auto sigmaOf = [&](int j) { return points[static_cast<size_t>(j)]->sigma[i] / points[static_cast<size_t>(j)]->time; };
    const int k = segmentOf(rates, n, rate);
    if (k == 0)
        return sigmaOf(0) * rate / rates[0];
    if (k == n)
        return sigmaOf(n - 1) * rate / rates[n - 1];
    return blend(sigmaOf(k - 1), sigmaOf(k), rates[k - 1], rates[k], rate);
}

double CalibContext::Impl::derivative(int pixel, const double* rates, double rate) const
{
    if (!std::isfinite(rate))
        return kNoValue;
    if (!mask[static_cast<size_t>(pixel)] || rate <= 0.0)
        return 0.0;
    const int n = static_cast<int>(points.size());
    if (n == 0)
        return 1.0;
    const int k = segmentOf(rates, n, rate);
    if (k == 0)
        return extrapolate ? derivativeAt(0, pixel, rate) : 0.0;
    if (k == n)
        return extrapolate ? derivativeAt(n - 1, pixel, rate) : 0.0;
    if (method == kLinear)
        return derivativeAt(k - 1, pixel, rate);
    return blend(derivativeAt(k - 1, pixel, rate), derivativeAt(k, pixel, rate), rates[k - 1], rates[k], rate);
}

} // namespace hcal
