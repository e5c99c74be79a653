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

inline double invertLine(double slope, double intercept, double r)
{
    if (slope == 0.0)
        return kNoValue;
    return finiteOrNone((r - intercept) / slope);
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
        return invertLine(b, c, r);
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

// The exponent B of the curve through three points of ascending thickness. With d1 = t1 - t0,
// d2 = t2 - t1 and rho = (r2 - r1) / (r1 - r0) the three-point condition reads
//   h(B) = (e^(B d2) - 1) / (1 - e^(-B d1)) = rho,
// and h rises monotonically from 0 to infinity, so G(B) = ln h(B) - ln rho has one root and is nearly
// straight: Newton's iteration on G, started from the slopes' estimate, finds it in a few steps.
// false when there is no start (equal thicknesses or rates, a ratio <= 0) or the iteration fails.
inline bool exponentThrough(double t0, double r0, double t1, double r1, double t2, double r2, double& B)
{
    if (t0 == t1 || t1 == t2 || r0 == r1 || r1 == r2)
        return false;
    const double d1 = t1 - t0;
    const double d2 = t2 - t1;
    const double ratio = ((r1 - r0) * d2) / (d1 * (r2 - r1));
    if (!(ratio > 0.0) || !std::isfinite(ratio))
        return false;
    const double lnRho = std::log((r2 - r1) / (r1 - r0));
    B = 2.0 * std::log(ratio) / (t0 - t2);
    if (!std::isfinite(B) || !std::isfinite(lnRho))
        return false;
    double lastStep = 0.0;
    for (int step = 1; step <= kNewtonMaxSteps; ++step) {
        double g;
        double dg;
        if (B == 0.0) {
            g = std::log(d2 / d1) - lnRho;
            dg = 0.5 * (d1 + d2);
        } else {
            const double up = std::expm1(B * d2);    // e^(B d2) - 1
            const double down = std::expm1(-B * d1); // e^(-B d1) - 1 (same sign as -up)
            g = std::log(up / -down) - lnRho;
            dg = d2 * (up + 1.0) / up + d1 * (down + 1.0) / down;
        }
        if (!(dg > 0.0) || !std::isfinite(g))
            return false;
        const double delta = -g / dg;
        B += delta;
        if (!std::isfinite(B))
            return false;
        if (std::fabs(delta) <= kNewtonTolerance * std::fmax(1.0, std::fabs(B)))
            return true;
        if (step > kNewtonSteadySteps && std::fabs(delta) > std::fabs(lastStep))
            return false; // growing steps: diverging
        lastStep = delta;
    }
    return false;
}

inline Exponential exponentialThrough(double t0, double r0, double t1, double r1, double t2, double r2)
{
    Exponential e;
    double B = 0.0;
    if (!exponentThrough(t0, r0, t1, r1, t2, r2, B))
        return e;
    const double e0 = std::exp(B * t0);
    const double A = (r0 - r2) / (e0 - std::exp(B * t2));
    const double C = r0 - A * e0;
    if (!std::isfinite(A) || !std::isfinite(C) || A == 0.0 || B == 0.0)
        return e;
    e.A = A;
    e.B = B;
    e.C = C;
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

inline double invertExponential(double A, double B, double C, double r)
{
    const double arg = (r - C) / A;
    if (!(arg > 0.0) || B == 0.0)
        return kNoValue;
    return finiteOrNone(std::log(arg) / B);
}

inline double exponentialDerivative(double A, double B, double C, double r)
{
    (void)A;
    const double v = B * (r - C);
    if (v == 0.0)
        return kNoValue;
    return finiteOrNone(1.0 / v);
}

} // namespace hcal::curves
