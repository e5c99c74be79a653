#include "chart_model.h"

#include <cmath>
#include <new>

#include "chart_math.h"

bool ChartModel::setLabels(const char* newTitle, const char* newXLabel, const char* newYLabel)
{
    title = newTitle ? newTitle : "";
    xLabel = newXLabel ? newXLabel : "";
    yLabel = newYLabel ? newYLabel : "";
    changed();
    return true;
}

void ChartModel::autoScaleX()
{
    double lo = INFINITY;
    double hi = -INFINITY;
    for (const auto& s : series) {
        double sMin = 0.0;
        double sMax = 0.0;
        if (s->getXRange(&sMin, &sMax)) {
            lo = std::fmin(lo, sMin);
            hi = std::fmax(hi, sMax);
        }
    }
    if (std::isfinite(lo) && std::isfinite(hi) && hi > lo && (lo != xMin || hi != xMax)) {
        xMin = lo;
        xMax = hi;
        changed();
    }
    if (yAuto)
        autoScaleY();
}

void ChartModel::autoScaleY()
{
    double lo = yIncludeZero ? 0.0 : INFINITY;
    double hi = yIncludeZero ? 0.0 : -INFINITY;
    for (const auto& s : series) {
        double sMin = INFINITY;
        double sMax = -INFINITY;
        s->getYRange(xMin, xMax, &sMin, &sMax);
        if (sMin <= sMax) {
            lo = std::fmin(lo, sMin);
            hi = std::fmax(hi, sMax);
        }
    }
    if (std::isfinite(lo) && std::isfinite(hi) && hi > lo && (lo != yMin || hi != yMax)) {
        yMin = lo;
        yMax = hi;
        changed();
    }
}

bool ChartModel::setRange(bool xAutomatic, double xmin, double xmax, double ymin, double ymax)
{
    if (!std::isfinite(ymin) || !std::isfinite(ymax) || (!xAutomatic && (!std::isfinite(xmin) || !std::isfinite(xmax))))
        return false;
    const double oldXMin = xMin;
    const double oldXMax = xMax;
    bool any = xAuto != xAutomatic || yAuto || yMin != ymin || yMax != ymax;
    xAuto = xAutomatic;
    yAuto = false;
    yMin = ymin;
    yMax = ymax;
    if (xAuto) {
        autoScaleX();
    } else {
        xMin = xmin;
        xMax = xmax;
    }
    any = any || xMin != oldXMin || xMax != oldXMax;
    if (any)
        changed();
    return any;
}

void ChartModel::autoScale()
{
    if (xAuto)
        autoScaleX();
    else if (yAuto)
        autoScaleY();
}

ChartSeries* ChartModel::addSeries(unsigned count, double x0, double dx, const uint16_t* values)
{
    try {
        series.push_back(std::make_unique<ChartSeries>(count, x0, dx, values));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    autoScale();
    changed();
    return series.back().get();
}

ChartSeries* ChartModel::addEmptySeries(double x0, double dx, unsigned count)
{
    return addSeries(count, x0, dx, nullptr);
}

void ChartModel::clearSeries()
{
    series.clear();
    changed();
}

ChartShapeList* ChartModel::addOverlay()
{
    overlays.push_back(std::make_unique<ChartShapeList>());
    changed();
    return overlays.back().get();
}

COLORREF ChartModel::getSeriesColor(int i) const
{
    return chartSeriesColor(i, static_cast<unsigned>(series.size()), colorMode, backColor);
}

bool ChartModel::writeData(FILE* file) const
{
    for (const auto& s : series)
        if (!s->write(file))
            return false;
    return true;
}

void ChartModel::cyclePointStyle()
{
    pointStyle = pointStyle >= Squares && pointStyle < Sticks ? pointStyle + 1 : Squares;
    changed();
}

void ChartModel::toggleDecorations()
{
    showTitle = !showTitle;
    showLabels = !showLabels;
    showAxes = !showAxes;
    if (toggleLegendOnDblClk)
        showLegend = !showLegend;
    changed();
}
