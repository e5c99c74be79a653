#include "chart_series.h"

#include <algorithm>
#include <cmath>

#include "chart_math.h"

ChartSeries::ChartSeries(unsigned count, double x0, double dx)
{
    reset(count, x0, dx);
}

ChartSeries::ChartSeries(unsigned count, double x0, double dx, const uint16_t* values)
{
    setValues(count, x0, dx, values);
}

void ChartSeries::setValues(unsigned count, double x0, double dx, const uint16_t* values)
{
    DynArray<_ChartPoint> fresh(count);
    for (unsigned i = 0; i < count; ++i) {
        fresh[i].x = x0 + i * dx;
        fresh[i].y = values ? values[i] : 0.0;
    }
    points = std::move(fresh);
}

void ChartSeries::reset(unsigned count, double x0, double dx)
{
    setValues(count, x0, dx, nullptr);
}

bool ChartSeries::resizePoints(unsigned n)
{
    if (n < points.size())
        return false;
    points.resize(n);
    return true;
}

void ChartSeries::insertPoint(unsigned index)
{
    const size_t at = std::min<size_t>(index, points.size());
    points.insert(points.begin() + static_cast<std::ptrdiff_t>(at), _ChartPoint{});
}

unsigned ChartSeries::findPoint(double x) const
{
    if (points.empty() || x <= points.front().x)
        return 0;
    if (x > points.back().x)
        return count();
    const auto it = std::lower_bound(points.begin(), points.end(), x,
                                     [](const _ChartPoint& p, double v) { return p.x < v; });
    return static_cast<unsigned>(it - points.begin());
}

bool ChartSeries::getXRange(double* min, double* max) const
{
    double lo = INFINITY;
    double hi = -INFINITY;
    for (const _ChartPoint& p : points)
        if (std::isfinite(p.x)) {
            lo = std::fmin(lo, p.x);
            hi = std::fmax(hi, p.x);
        }
    for (const auto& f : functions) {
        double fMin = 0.0;
        double fMax = 0.0;
        if (!f || !f->getXRange(&fMin, &fMax))
            return false;
        if (std::isfinite(fMin) && std::isfinite(fMax) && fMin <= fMax) {
            lo = std::fmin(lo, fMin);
            hi = std::fmax(hi, fMax);
        }
    }
    if (!(lo <= hi))
        return false;
    *min = lo;
    *max = hi;
    return true;
}

bool ChartSeries::getYRange(double x1, double x2, double* min, double* max) const
{
    double lo = INFINITY;
    double hi = -INFINITY;
    for (size_t i = findPoint(x1); i < points.size() && points[i].x <= x2; ++i)
        if (std::isfinite(points[i].y) && points[i].x >= x1) {
            lo = std::fmin(lo, points[i].y);
            hi = std::fmax(hi, points[i].y);
        }
    for (const auto& f : functions) {
        double fMin = 0.0;
        double fMax = 0.0;
        if (f && f->getYRange(x1, x2, &fMin, &fMax) && std::isfinite(fMin) && std::isfinite(fMax)) {
            lo = std::fmin(lo, fMin);
            hi = std::fmax(hi, fMax);
        }
    }
    if (lo <= hi) {
        *min = lo;
        *max = hi;
    }
    return hi > lo;
}

std::string ChartSeries::text() const
{
    bool withX = false;
    bool withXErr = false;
    bool withYErr = false;
    for (size_t i = 0; i < points.size(); ++i) {
        const _ChartPoint& p = points[i];
        withX = withX || p.x != static_cast<double>(i);
        withXErr = withXErr || p.xErr != 0.0;
        withYErr = withYErr || p.yErr != 0.0;
    }
    withX = withX || withXErr;
    std::string line;
    line.reserve(points.size() * 12 + 1);
    for (const _ChartPoint& p : points) {
        if (withX) {
            line += chartFormatNumber(p.x);
            if (withXErr) {
                line += '\xB1';
                line += chartFormatNumber(p.xErr);
            }
            line += ';';
        }
        line += chartFormatNumber(p.y);
        if (withYErr) {
            line += '\xB1';
            line += chartFormatNumber(p.yErr);
        }
        line += " \t";
    }
    line += '\n';
    return line;
}

bool ChartSeries::write(FILE* file) const
{
    if (!file)
        return false;
    const std::string line = text();
    return std::fwrite(line.data(), 1, line.size(), file) == line.size() && !std::ferror(file);
}
