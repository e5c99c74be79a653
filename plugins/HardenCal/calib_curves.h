// The per-pixel curves of count rate r against thickness t and their inverses. Every function gives
// kNoValue where the curve has no finite answer (slope 0, a negative discriminant, the logarithm of a
// value <= 0, an overflow), never an infinity or a NaN.
#pragma once

#include <cmath>

#include "calib_context.h"

namespace hcal::curves {

inline double finiteOrNone(double v)
{
    return std::isfinite(v) ? v : kNoValue;
}

// The fitted parameters are kept in the form their inverse needs: reciprocals where the inverse divides,
// so that reading a thickness back multiplies (a reciprocal of 0 is an infinity, whose products the
// inverses turn into kNoValue).

// ---- Linear: r = slope t + intercept ----
struct Line {
    double slope = 0.0;
    double intercept = 0.0;
};

// The line through (t0, r0) and (t1, r1).
inline Line lineThrough(double t0, double r0, double t1, double r1)
{
    Line l;
    l.slope = (r0 - r1) / (t0 - t1);
    l.intercept = r0 - l.slope * t0;
    return l;
}

inline double invertLine(double invSlope, double intercept, double r)
{
    return finiteOrNone((r - intercept) * invSlope);
}

// ---- Quadratic: r = a t^2 + b t + c; a == 0 is the line b t + c (the last point's form) ----
struct Parabola {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
    bool usable = false; // a > 0 and the vertex not below t2
};

// The parabola through three points of ascending thickness.
inline Parabola parabolaThrough(double t0, double r0, double t1, double r1, double t2, double r2)
{
    Parabola p;
    const double s01 = (r1 - r0) / (t1 - t0);
    const double s12 = (r2 - r1) / (t2 - t1);
    p.a = (s12 - s01) / (t2 - t0);
    p.b = s01 - p.a * (t0 + t1);
    p.c = r0 - t0 * (p.b + p.a * t0);
    p.usable = p.a > 0.0 && std::isfinite(p.a) && std::isfinite(p.b) && std::isfinite(p.c) && -p.b / (2.0 * p.a) >= t2;
    return p;
}

// The smaller root: the falling branch of the parabola.
inline double invertParabola(double a, double b, double c, double r)
{
    if (a == 0.0)
        return b == 0.0 ? kNoValue : finiteOrNone((r - c) / b);
    const double disc = b * b - 4.0 * a * (c - r);
    if (!(disc >= 0.0))
        return kNoValue;
    return finiteOrNone((-b - std::sqrt(disc)) / (2.0 * a));
}

// dt/dr of the falling branch.
inline double parabolaDerivative(double a, double b, double c, double r)
{
    if (a == 0.0)
        return b == 0.0 ? kNoValue : finiteOrNone(1.0 / b);
    const double disc = b * b - 4.0 * a * (c - r);
    if (!(disc > 0.0))
        return kNoValue;
    return finiteOrNone(-1.0 / std::sqrt(disc));
}

// ---- Exponential: r = A e^(B t) + C ----
struct Exponential {
    double A = 0.0;
    double B = 0.0;
    double C = 0.0;
    bool usable = false;
};

// Newton's iteration stops when a step is at most this relative to max(1, |B|), gives up after
// kNewtonMaxSteps, and calls steps that grow again after the fourth a divergence.
inline constexpr double kNewtonTolerance = 1e-12;
inline constexpr int kNewtonMaxSteps = 1000;
inline constexpr int kNewtonSteadySteps = 4;

// e^x - 1, exact also for small x (where exp(x) - 1 would lose digits), cheaper elsewhere.
inline double expMinusOne(double x)
{
    return std::fabs(x) < 0.5 ? std::expm1(x) : std::exp(x) - 1.0;
}

// The thicknesses of three points as every pixel's fit through them needs them.
struct Spacing {
    double t0 = 0.0;
    double d1 = 0.0; // t1 - t0
    double d2 = 0.0; // t2 - t1
    double d21 = 0.0; // d2 / d1
};

inline Spacing spacingOf(double t0, double t1, double t2)
{
    Spacing s;
    s.t0 = t0;
    s.d1 = t1 - t0;
    s.d2 = t2 - t1;
    s.d21 = s.d2 / s.d1;
    return s;
}

// The exponent B of the curve through three points of ascending thickness. With d1 = t1 - t0,
// d2 = t2 - t1 and rho = (r2 - r1) / (r1 - r0) the three-point condition reads
//   h(B) = (e^(B d2) - 1) / (1 - e^(-B d1)) = rho,
// and h rises monotonically from 0 to infinity, so there is one root. Newton's iteration starts from the
// slopes' estimate B = 2 ln(((r1 - r0) d2) / (d1 (r2 - r1))) / (t0 - t2) (exact for equal spacing). It
// runs on h - rho, which needs no logarithm per step; should that fail, it runs again on
// ln h - ln rho, which is nearly straight and finds the root from farther away.
// false when there is no start (equal thicknesses or rates, a ratio <= 0) or no iteration converges.
namespace detail {

// One Newton iteration with the stopping rules; step(B, delta) gives the step or false.
template <class Step>
bool newton(double& B, Step step)
{
    double lastStep = 0.0;
    for (int n = 1; n <= kNewtonMaxSteps; ++n) {
        double delta;
        if (!step(B, delta) || !std::isfinite(delta))
            return false;
        B += delta;
        if (!std::isfinite(B))
            return false;
        if (std::fabs(delta) <= kNewtonTolerance * std::fmax(1.0, std::fabs(B)))
            return true;
        if (n > kNewtonSteadySteps && std::fabs(delta) > std::fabs(lastStep))
            return false; // growing steps: diverging
        lastStep = delta;
    }
    return false;
}

} // namespace detail

// The start of the iteration and its target rho; false when there is none.
inline bool exponentStart(const Spacing& s, double r0, double r1, double r2, double& rho, double& start)
{
    if (s.d1 == 0.0 || s.d2 == 0.0 || r0 == r1 || r1 == r2)
        return false;
    rho = (r2 - r1) / (r1 - r0);
    const double ratio = s.d21 / rho;
    if (!(ratio > 0.0) || !std::isfinite(ratio) || !std::isfinite(rho))
        return false;
    start = -2.0 * std::log(ratio) / (s.d1 + s.d2);
    return std::isfinite(start);
}

// Newton's step on h(B) - rho at b; false when it has none.
inline bool ratioStep(const Spacing& s, double rho, double b, double& delta)
{
    if (b == 0.0) {
        // At B = 0 both forms take their limits: h = d2 / d1, h' = h (d1 + d2) / 2.
        delta = (rho - s.d21) / (s.d21 * 0.5 * (s.d1 + s.d2));
        return true;
    }
    const double u = expMinusOne(b * s.d2);   // e^(B d2) - 1
    const double v = -expMinusOne(-b * s.d1); // 1 - e^(-B d1), same sign as u
    const double den = s.d2 * (u + 1.0) * v - u * s.d1 * (1.0 - v); // h' v^2 > 0
    if (!(den > 0.0))
        return false;
    delta = v * (rho * v - u) / den;
    return true;
}

// Newton's iteration on ln h - ln rho from start, for what the iteration on h - rho did not solve.
inline bool exponentOnLogRatio(const Spacing& s, double rho, double start, double& B)
{
    const double lnRho = std::log(rho);
    auto onLogRatio = [&](double b, double& delta) {
        if (b == 0.0) {
            delta = (lnRho - std::log(s.d21)) / (0.5 * (s.d1 + s.d2));
            return true;
        }
        const double u = expMinusOne(b * s.d2);
        const double down = expMinusOne(-b * s.d1);
        const double g = std::log(u / -down) - lnRho;
        const double dg = s.d2 * (u + 1.0) / u + s.d1 * (down + 1.0) / down;
        if (!(dg > 0.0) || !std::isfinite(g))
            return false;
        delta = -g / dg;
        return true;
    };
    B = start;
    return detail::newton(B, onLogRatio);
}

inline bool exponentFit(const Spacing& s, double r0, double r1, double r2, double& B)
{
    double rho = 0.0;
    double start = 0.0;
    if (!exponentStart(s, r0, r1, r2, rho, start))
        return false;
    B = start;
    if (detail::newton(B, [&](double b, double& delta) { return ratioStep(s, rho, b, delta); }))
        return true;
    return exponentOnLogRatio(s, rho, start, B);
}

// The exponents of kLanes pixels through the same three thicknesses, each as exponentFit finds it: their
// iterations on h - rho run side by side, step for step, so that one pixel's step does not wait for
// another's (each step waits for its exponentials). ok[k]: whether lane k has one.
inline constexpr int kLanes = 4;

inline void exponentFits(const Spacing& s, const double* r0, const double* r1, const double* r2, double* B, bool* ok)
{
    enum : unsigned char { running, done, again, none };
    double rho[kLanes], start[kLanes], last[kLanes];
    unsigned char state[kLanes];
    for (int k = 0; k < kLanes; ++k) {
        rho[k] = start[k] = 0.0;
        state[k] = exponentStart(s, r0[k], r1[k], r2[k], rho[k], start[k]) ? running : none;
        B[k] = start[k];
        last[k] = 0.0;
    }
    // detail::newton's rules, per lane.
    for (int n = 1; n <= kNewtonMaxSteps; ++n) {
        bool more = false;
        for (int k = 0; k < kLanes; ++k) {
            if (state[k] != running)
                continue;
            double delta;
            if (!ratioStep(s, rho[k], B[k], delta) || !std::isfinite(delta)) {
                state[k] = again;
                continue;
            }
            B[k] += delta;
            if (!std::isfinite(B[k]))
                state[k] = again;
            else if (std::fabs(delta) <= kNewtonTolerance * std::fmax(1.0, std::fabs(B[k])))
                state[k] = done;
            else if (n > kNewtonSteadySteps && std::fabs(delta) > std::fabs(last[k]))
                state[k] = again;
            else {
                last[k] = delta;
                more = true;
            }
        }
        if (!more)
            break;
    }
    for (int k = 0; k < kLanes; ++k) {
        if (state[k] == running)
            state[k] = again; // no convergence within the steps allowed
        ok[k] = state[k] == done || (state[k] == again && exponentOnLogRatio(s, rho[k], start[k], B[k]));
    }
}

// The curve through three points, with the reciprocals 1/A and 1/B that its inverse uses.
struct ExponentialFit {
    double invA = 0.0;
    double invB = 0.0;
    double C = 0.0;
    bool usable = false;
};

// The curve through three points with exponent B (found false: unusable).
inline ExponentialFit exponentialFitWith(const Spacing& s, double r0, double r2, bool found, double B)
{
    ExponentialFit f;
    if (!found || B == 0.0)
        return f;
    // A = (r0 - r2) / (e^(B t0) - e^(B t2)), C = r0 - A e^(B t0).
    const double e0 = std::exp(B * s.t0);
    const double spread = -e0 * expMinusOne(B * (s.d1 + s.d2)); // e^(B t0) - e^(B t2)
    const double A = (r0 - r2) / spread;
    const double C = r0 - A * e0;
    if (!std::isfinite(A) || !std::isfinite(C) || A == 0.0 || !std::isfinite(e0))
        return f;
    f.invA = 1.0 / A;
    f.invB = 1.0 / B;
    f.C = C;
    f.usable = std::isfinite(f.invA) && std::isfinite(f.invB);
    return f;
}

inline ExponentialFit exponentialFit(const Spacing& s, double r0, double r1, double r2)
{
    double B = 0.0;
    const bool found = exponentFit(s, r0, r1, r2, B);
    return exponentialFitWith(s, r0, r2, found, B);
}

inline bool exponentThrough(double t0, double r0, double t1, double r1, double t2, double r2, double& B)
{
    return exponentFit(spacingOf(t0, t1, t2), r0, r1, r2, B);
}

inline Exponential exponentialThrough(double t0, double r0, double t1, double r1, double t2, double r2)
{
    Exponential e;
    const ExponentialFit f = exponentialFit(spacingOf(t0, t1, t2), r0, r1, r2);
    if (!f.usable)
        return e;
    e.A = 1.0 / f.invA;
    e.B = 1.0 / f.invB;
    e.C = f.C;
    e.usable = true;
    return e;
}

// The two-point form r = A e^(B t) (C = 0) through the last pair.
inline Exponential exponentialPair(double t0, double r0, double t1, double r1)
{
    Exponential e;
    if (!(r0 * r1 > 0.0) || t0 == t1)
        return e;
    e.B = std::log(r1 / r0) / (t1 - t0);
    e.A = r0 / std::exp(e.B * t0);
    e.usable = std::isfinite(e.A) && std::isfinite(e.B);
    if (!e.usable)
        e.A = e.B = 0.0;
    return e;
}

// The inverse t = ln((r - C) / A) / B, from 1/A and 1/B.
inline double invertExponential(double invA, double invB, double C, double r)
{
    const double arg = (r - C) * invA;
    if (!(arg > 0.0))
        return kNoValue;
    return finiteOrNone(std::log(arg) * invB);
}

inline double exponentialDerivative(double invB, double C, double r)
{
    return finiteOrNone(invB / (r - C));
}

} // namespace hcal::curves
