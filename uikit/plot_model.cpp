// The 2-D plot without its window.
#include "plot_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "export_text.h"
#include "platform/file_write.h"

namespace {

constexpr double kUnknownMin = Plot2DSeries::kUnknownMin;
constexpr double kUnknownMax = Plot2DSeries::kUnknownMax;
// Pixel coordinates stay within this distance of 0: far-off values still draw their lines in the right
// direction, and nothing overflows an int.
constexpr double kPixelLimit = 1e6;

bool isFinite(double v)
{
    return std::isfinite(v);
}

// A usable axis: known, finite ends with lo < hi (lo <= hi when flat is allowed).
bool usable(double lo, double hi, bool flat)
{
    return isFinite(lo) && isFinite(hi) && lo != kUnknownMin && hi != kUnknownMax && (flat ? lo <= hi : lo < hi);
}

int digitsOf(double v, double range)
{
    if (v == 0)
        return 1;
    const double l = std::log10(std::fabs(v / range));
    if (!isFinite(l))
        return 1;
    return static_cast<int>(std::clamp(std::trunc(l), -400.0, 400.0)) + 1;
}

int clampInt(double v, int lo, int hi)
{
    if (!(v >= lo))
        return lo;
    if (v > hi)
        return hi;
    return static_cast<int>(v);
}

constexpr PlotColor kSeriesColors[21] = {
    plotRgb(255, 0, 0),     plotRgb(0, 0, 255),     plotRgb(0, 0, 0),       plotRgb(128, 255, 128),
    plotRgb(128, 255, 255), plotRgb(0, 128, 255),   plotRgb(255, 128, 192), plotRgb(255, 128, 64),
    plotRgb(128, 128, 0),   plotRgb(192, 192, 192), plotRgb(128, 128, 128), plotRgb(0, 255, 0),
    plotRgb(0, 255, 255),   plotRgb(255, 0, 255),   plotRgb(0, 64, 64),     plotRgb(0, 255, 128),
    plotRgb(128, 128, 255), plotRgb(128, 0, 128),   plotRgb(255, 128, 64),  plotRgb(128, 64, 0),
    plotRgb(255, 128, 0),
};

} // namespace

// ---- series ----

Plot2DSeries::Plot2DSeries(int n, double x0, double step)
{
    points.reserve(static_cast<size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        points.push_back({x0 + i * step, 0.0});
    const double end = x0 + std::max(n, 0) * step;
    xMin = std::min(x0, end);
    xMax = std::max(x0, end);
}

Plot2DSeries::Plot2DSeries(std::span<const double> values, double x0, double step)
    : Plot2DSeries(static_cast<int>(values.size()), x0, step)
{
    for (size_t i = 0; i < values.size(); ++i)
        points[i].y = values[i];
    computeYBounds();
}

void Plot2DSeries::addPoint(double x, double y)
{
    points.push_back({x, y});
    if (isFinite(x)) {
        xMin = std::min(xMin, x);
        xMax = std::max(xMax, x);
    }
    if (isFinite(y)) {
        yMin = std::min(yMin, y);
        yMax = std::max(yMax, y);
    }
}

void Plot2DSeries::computeXBounds()
{
    xMin = kUnknownMin;
    xMax = kUnknownMax;
    for (const Plot2DPoint& p : points)
        if (isFinite(p.x)) {
            xMin = std::min(xMin, p.x);
            xMax = std::max(xMax, p.x);
        }
}

void Plot2DSeries::computeYBounds()
{
    yMin = kUnknownMin;
    yMax = kUnknownMax;
    for (const Plot2DPoint& p : points)
        if (isFinite(p.y)) {
            yMin = std::min(yMin, p.y);
            yMax = std::max(yMax, p.y);
        }
}

// ---- graphs ----

Plot2DModel::Plot2DModel()
{
    addGraph(std::string());
}

Plot2DModel::~Plot2DModel() = default;

PlotColor Plot2DModel::seriesColor(int index)
{
    return kSeriesColors[((index % 21) + 21) % 21];
}

Plot2DGraph* Plot2DModel::graph(int index)
{
    if (index == -1)
        index = currentGraph;
    if (index < 0 || index >= graphCount())
        return nullptr;
    return graphs[static_cast<size_t>(index)].get();
}

Plot2DSeries* Plot2DModel::seriesAt(Plot2DGraph& g, int index)
{
    if (index == -1)
        index = static_cast<int>(g.series.size()) - 1;
    if (index < 0 || index >= static_cast<int>(g.series.size()))
        return nullptr;
    return g.series[static_cast<size_t>(index)].get();
}

void Plot2DModel::addGraph(const std::string& name)
{
    auto g = std::make_unique<Plot2DGraph>();
    g->name = name;
    graphs.push_back(std::move(g));
}

void Plot2DModel::clearSeries()
{
    for (auto& g : graphs) {
        g->series.clear();
        g->seriesCount = 0;
    }
    if (autoScaleX) {
        if (!fixXMin)
            xMin = kUnknownMin;
        if (!fixXMax)
            xMax = kUnknownMax;
    }
    if (autoScaleY) {
        if (!fixYMin)
            yMin = kUnknownMin;
        if (!fixYMax)
            yMax = kUnknownMax;
    }
    redraw();
}

void Plot2DModel::attachSeries(Plot2DGraph& g, std::unique_ptr<Plot2DSeries> series)
{
    series->color = seriesColor(g.seriesCount);
    series->style = defaultStyle;
    ++g.seriesCount;
    const Plot2DSeries& s = *series;
    g.series.push_back(std::move(series));
    if (g.visible) {
        extendRange(s);
        redraw();
    }
}

bool Plot2DModel::addSeries(int graphIndex, std::unique_ptr<Plot2DSeries> series)
{
    Plot2DGraph* g = graph(graphIndex);
    if (!g || !series)
        return false;
    if (series->xMin == kUnknownMin || series->xMax == kUnknownMax)
        series->computeXBounds();
    if (series->yMin == kUnknownMin || series->yMax == kUnknownMax)
        series->computeYBounds();
    attachSeries(*g, std::move(series));
    return true;
}

bool Plot2DModel::addEmptySeries(int graphIndex)
{
    Plot2DGraph* g = graph(graphIndex);
    if (!g)
        return false;
    attachSeries(*g, std::make_unique<Plot2DSeries>());
    return true;
}

bool Plot2DModel::addValueSeries(std::span<const double> values, double x0, double step)
{
    Plot2DGraph* g = graph(-1);
    if (!g)
        return false;
    attachSeries(*g, std::make_unique<Plot2DSeries>(values, x0, step));
    return true;
}

bool Plot2DModel::addPoint(bool repaint, double x, double y, int graphIndex, int seriesIndex)
{
    Plot2DGraph* g = graph(graphIndex);
    Plot2DSeries* s = g ? seriesAt(*g, seriesIndex) : nullptr;
    if (!s)
        return false;
    s->addPoint(x, y);
    if (g->visible) {
        extendRange(*s);
        if (repaint)
            redraw();
    }
    return true;
}

bool Plot2DModel::setPointY(double x, double y, int graphIndex, int seriesIndex)
{
    Plot2DGraph* g = graph(graphIndex);
    Plot2DSeries* s = g ? seriesAt(*g, seriesIndex) : nullptr;
    if (!s)
        return false;
    auto it = std::find_if(s->points.begin(), s->points.end(), [x](const Plot2DPoint& p) { return p.x == x; });
    if (it == s->points.end())
        return false;
    const double old = it->y;
    if (y != old) {
        it->y = y;
        bool recomputed = false;
        if (isFinite(y) && y > s->yMax)
            s->yMax = y;
        else if (old == s->yMax)
            recomputed = true;
        if (isFinite(y) && y < s->yMin)
            s->yMin = y;
        else if (old == s->yMin)
            recomputed = true;
        if (recomputed)
            s->computeYBounds();
        if (g->visible && autoScaleY) {
            bool moved = false;
            if (!fixYMax && yMax < s->yMax && s->yMax != kUnknownMax) {
                yMax = s->yMax;
                moved = true;
            }
            if (!fixYMin && yMin > s->yMin && s->yMin != kUnknownMin) {
                yMin = s->yMin;
                moved = true;
            }
            if (recomputed && !moved)
                updateYRange();
        }
    }
    redraw();
    return true;
}

bool Plot2DModel::removeFirstSeries(int graphIndex)
{
    Plot2DGraph* g = graph(graphIndex);
    if (!g || g->series.empty())
        return false;
    g->series.erase(g->series.begin());
    if (autoScaleX)
        updateXRange();
    if (autoScaleY)
        updateYRange();
    if (g->visible)
        redraw();
    return true;
}

bool Plot2DModel::setFirstSeriesColor(int graphIndex, PlotColor color)
{
    Plot2DGraph* g = graph(graphIndex);
    if (!g || g->series.empty())
        return false;
    g->series.front()->color = color;
    if (g->visible)
        redraw();
    return true;
}

void Plot2DModel::setSeriesStyle(int style)
{
    for (auto& g : graphs)
        for (auto& s : g->series)
            s->style = style;
    redraw();
}

bool Plot2DModel::showGraph(int graphIndex, bool visible)
{
    bool previous = false;
    if (graphIndex == -2) {
        for (auto& g : graphs)
            g->visible = visible;
    } else {
        Plot2DGraph* g = graph(graphIndex);
        if (!g)
            return false;
        previous = g->visible;
        g->visible = visible;
    }
    if (autoScaleX)
        updateXRange();
    if (autoScaleY)
        updateYRange();
    redraw();
    return previous;
}

// ---- ranges ----

void Plot2DModel::setRange(double x0, double x1, double y0, double y1)
{
    xMin = x0;
    xMax = x1;
    yMin = y0;
    yMax = y1;
    setAutoScaleX(false);
    setAutoScaleY(false);
    redraw();
}

void Plot2DModel::setXRange(double min, double max)
{
    xMin = min;
    xMax = max;
    setAutoScaleX(false);
    redraw();
}

void Plot2DModel::setYRange(double min, double max)
{
    yMin = min;
    yMax = max;
    setAutoScaleY(false);
    redraw();
}

void Plot2DModel::setAutoScaleX(bool on)
{
    autoScaleX = on;
    autoScaleChanged(true, on);
    if (on) {
        updateXRange();
        redraw();
    }
}

void Plot2DModel::setAutoScaleY(bool on)
{
    autoScaleY = on;
    autoScaleChanged(false, on);
    if (on) {
        updateYRange();
        redraw();
    }
}

void Plot2DModel::updateXRange()
{
    xMin = kUnknownMin;
    xMax = kUnknownMax;
    for (auto& g : graphs)
        if (g->visible)
            for (auto& s : g->series) {
                xMin = std::min(xMin, s->xMin);
                xMax = std::max(xMax, s->xMax);
            }
    if (fixXMin)
        xMin = fixedXMin;
    if (fixXMax)
        xMax = fixedXMax;
}

void Plot2DModel::updateYRange()
{
    yMin = kUnknownMin;
    yMax = kUnknownMax;
    for (auto& g : graphs)
        if (g->visible)
            for (auto& s : g->series) {
                yMin = std::min(yMin, s->yMin);
                yMax = std::max(yMax, s->yMax);
            }
    if (fixYMin)
        yMin = fixedYMin;
    if (fixYMax)
        yMax = fixedYMax;
    if (yMin == yMax && yMin != kUnknownMin) {
        if (fixYMin)
            yMax += 1;
        else
            yMin -= 1;
    }
}

void Plot2DModel::extendRange(const Plot2DSeries& s)
{
    auto end = [](double& value, bool fixed, double fixedValue, double bound, bool lower) {
        if (fixed && value != fixedValue)
            value = fixedValue;
        else if (lower ? bound < value : bound > value)
            value = bound;
    };
    if (autoScaleX) {
        end(xMin, fixXMin, fixedXMin, s.xMin, true);
        end(xMax, fixXMax, fixedXMax, s.xMax, false);
    }
    if (autoScaleY) {
        end(yMin, fixYMin, fixedYMin, s.yMin, true);
        end(yMax, fixYMax, fixedYMax, s.yMax, false);
    }
}

// ---- tool-bar steps ----

bool Plot2DModel::panHorizontally(int direction)
{
    if (!usable(xMin, xMax, false))
        return false;
    const double d = panX * (xMax - xMin) * direction;
    const double lo = xMin + d, hi = xMax + d;
    if (!usable(lo, hi, false))
        return false;
    setXRange(lo, hi);
    return true;
}

bool Plot2DModel::panVertically(int direction)
{
    if (!usable(yMin, yMax, true))
        return false;
    double d = zoomY * (yMax - yMin);
    if (d == 0)
        d = 0.5;
    d *= direction;
    const double lo = yMin + d, hi = yMax + d;
    if (!usable(lo, hi, true))
        return false;
    setYRange(lo, hi);
    return true;
}

bool Plot2DModel::zoomInX()
{
    if (!usable(xMin, xMax, false))
        return false;
    const double d = zoomX * (xMax - xMin);
    const double lo = fixXMin ? xMin : xMin + d, hi = fixXMax ? xMax : xMax - d;
    if (!usable(lo, hi, false))
        return false;
    xMin = lo;
    xMax = hi;
    setAutoScaleX(false);
    redraw();
    return true;
}

bool Plot2DModel::zoomOutX()
{
    if (!usable(xMin, xMax, false))
        return false;
    const double d = zoomX * (xMax - xMin);
    const double lo = fixXMin ? xMin : xMin - d, hi = fixXMax ? xMax : xMax + d;
    if (!usable(lo, hi, false))
        return false;
    xMin = lo;
    xMax = hi;
    setAutoScaleX(false);
    redraw();
    return true;
}

bool Plot2DModel::zoomInY()
{
    if (!usable(yMin, yMax, false))
        return false;
    const double hi = fixYMax ? yMax : yMax - zoomY * (yMax - yMin);
    if (!usable(yMin, hi, false))
        return false;
    yMax = hi;
    setAutoScaleY(false);
    redraw();
    return true;
}

bool Plot2DModel::zoomOutY()
{
    if (!usable(yMin, yMax, false))
        return false;
    const double hi = fixYMax ? yMax : yMax + zoomY * (yMax - yMin);
    if (!usable(yMin, hi, false))
        return false;
    yMax = hi;
    setAutoScaleY(false);
    redraw();
    return true;
}

// ---- axes ----

void Plot2DModel::calcTickStep(int n, double range, double& step, double& scale)
{
    step = 0;
    scale = 1;
    if (n <= 0 || !(range > 0) || !isFinite(range))
        return;
    const double b = range / n;
    double e = std::trunc(std::log10(b));
    if (b < 1)
        e -= 1;
    const double p = std::pow(10.0, e);
    if (!(p > 0) || !isFinite(p))
        return;
    scale = p;
    if (b / p < 2.5) {
        step = 2.5 * p;
    } else if (b / p < 5) {
        step = 5 * p;
    } else {
        step = 10 * p;
        scale = 10 * p;
    }
    if (scale == 0.1 || scale == 10 || scale == 100)
        scale = 1;
}

double Plot2DModel::calcLabelScale(double min, double max, double step, double scale)
{
    if (!(step > 0) || !(scale > 0))
        return scale;
    const double m = std::max(step * std::trunc(std::fabs(min) / step), step * std::trunc(std::fabs(max) / step));
    if (!isFinite(m))
        return scale;
    if ((scale != 1 || m >= 1000) && m / scale >= 10)
        for (int i = 0; i < 700 && m / scale >= 10; ++i)
            scale *= 10;
    return scale;
}

PlotRect Plot2DModel::plotArea(const PlotRect& rect) const
{
    PlotRect r = rect;
    const int mx = std::max(1, clampInt(marginX * rect.width(), 0, 1 << 20));
    const int my = std::max(1, clampInt(marginY * rect.height(), 0, 1 << 20));
    r.left += mx;
    r.right -= mx;
    r.top += my;
    r.bottom -= my;
    return r;
}

bool Plot2DModel::layoutAxes(PlotRect& r)
{
    xTickStep = yTickStep = 0;
    xLabelScale = yLabelScale = 1;
    xLabelCount = yLabelCount = 0;
    if (!usable(xMin, xMax, false) || !usable(yMin, yMax, false))
        return false;
    const double dw = digitWidth > 0 ? digitWidth : 0;
    const double lh = lineHeight > 0 ? lineHeight : 0;
    const bool xLabels = showXAxis && showXLabels;
    const bool yLabels = showYAxis && showYLabels;
    if (xLabels || showGrid) {
        if (xLabels) {
            r.bottom -= clampInt((2 * labelGapY + 1) * lh, 0, 1 << 20);
            r.right -= clampInt(2 * labelGapX * dw + 3 * dw, 0, 1 << 20);
        }
        const int d = std::max(1, std::max(digitsOf(xMax, xMax - xMin), digitsOf(xMin, xMax - xMin)));
        xLabelWidth = std::max(1, clampInt(dw * (xLabelExtra + d + 2 + (xMin < 0 ? 1 : 0)) + 0.5, 0, 1 << 20));
    }
    if (yLabels || showGrid) {
        int d = 1;
        if (yMax != 0)
            d = digitsOf(yMax, yMax - yMin);
        if (yMin != 0)
            d = std::max(d, digitsOf(yMin, yMax - yMin));
        d = std::max(d, 1);
        yLabelWidth = std::max(1, clampInt(dw * (yLabelExtra + d + 1 + (yMin < 0 ? 1 : 0)) + 0.5, 0, 1 << 20));
        if (yLabels) {
            r.top += clampInt((2 * labelGapY + 1) * lh, 0, 1 << 20);
            r.left += yLabelWidth + clampInt(2 * labelGapX * dw, 0, 1 << 20);
        }
        const double perLabel = (yLabelExtra + 1) * lh;
        yLabelCount = perLabel > 0 ? std::clamp(clampInt(r.height() / perLabel, 0, kMaxLabels), 0, kMaxLabels) : 0;
    }
    plotRect = r;
    if (r.width() <= 0 || r.height() <= 0)
        return false;
    // The ticks of an axis: their step and label scale for that many labels, and the first tick in range.
    auto axisTicks = [](int labelCount, double min, double max, double& step, double& scale, double& start) {
        calcTickStep(labelCount, max - min, step, scale);
        scale = calcLabelScale(min, max, step, scale);
        if (step > 0) {
            start = step * std::trunc(min / step);
            if (start < min)
                start += step;
        }
    };
    if (yLabels || showGrid)
        axisTicks(yLabelCount, yMin, yMax, yTickStep, yLabelScale, yTickStart);
    // The x ticks for the rectangle's width.
    auto layoutX = [&] {
        plotRect = r;
        xLabelCount = std::clamp(r.width() / xLabelWidth, 0, kMaxLabels);
        axisTicks(xLabelCount, xMin, xMax, xTickStep, xLabelScale, xTickStart);
        xUnitsPerPixel = r.width() > 0 ? (xMax - xMin) / r.width() : 0;
    };
    if (xLabels || showGrid) {
        layoutX();
        // The power of ten at the axis end must not run into the last label, which is centred on its tick
        // and may reach past the plot's right edge: the plot narrows until it stands clear (a narrower plot
        // may take a larger step, so a few rounds).
        for (int round = 0; xLabels && round < 4 && xLabelScale != 1 && r.width() > 0; ++round) {
            const std::vector<double> t = xTicks();
            double x = 0;
            if (t.empty() || !mapX(t.back(), x))
                break;
            const double labelEnd = x + labelTextWidth(tickLabel(t.back(), xLabelScale)) / 2;
            const int exponentStart = r.right + static_cast<int>(xLabelExtra * dw / 2);
            const int overlap = static_cast<int>(std::ceil(labelEnd + dw / 2)) - exponentStart;
            if (overlap <= 0)
                break;
            r.right -= overlap;
            layoutX();
        }
    }
    plotRect = r;
    if (r.width() <= 0 || r.height() <= 0)
        return false;
    xUnitsPerPixel = (xMax - xMin) / r.width();
    yUnitsPerPixel = (yMax - yMin) / r.height();
    return xUnitsPerPixel > 0 && yUnitsPerPixel > 0 && isFinite(xUnitsPerPixel) && isFinite(yUnitsPerPixel);
}

double Plot2DModel::labelTextWidth(const std::string& text) const
{
    return static_cast<double>(text.size()) * (digitWidth > 0 ? digitWidth : 0);
}

std::vector<double> Plot2DModel::ticks(double start, double step, double end, int n) const
{
    std::vector<double> out;
    if (!(step > 0) || !isFinite(start))
        return out;
    for (int k = 0; k < n + 2; ++k) {
        double t = start + k * step;
        if (!(t < end))
            break;
        if (std::fabs(t) < step * 1e-9)
            t = 0;
        out.push_back(t);
    }
    return out;
}

std::vector<double> Plot2DModel::xTicks() const
{
    return ticks(xTickStart, xTickStep, xMax, xLabelCount);
}

std::vector<double> Plot2DModel::yTicks() const
{
    return ticks(yTickStart, yTickStep, yMax, yLabelCount);
}

bool Plot2DModel::mapX(double x, double& px) const
{
    const double v = (x - xMin) / xUnitsPerPixel + 0.5;
    if (!isFinite(x) || std::isnan(v))
        return false;
    px = plotRect.left + std::trunc(std::clamp(v, -kPixelLimit, kPixelLimit));
    return true;
}

bool Plot2DModel::mapY(double y, double& py) const
{
    const double v = (y - yMin) / yUnitsPerPixel + 0.5;
    if (!isFinite(y) || std::isnan(v))
        return false;
    py = plotRect.bottom - std::trunc(std::clamp(v, -kPixelLimit, kPixelLimit));
    return true;
}

std::string Plot2DModel::tickLabel(double value, double scale)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value / scale);
    // The user's locale may write a comma: labels are written the one way.
    for (char* c = text; *c; ++c)
        if (*c == ',')
            *c = '.';
    return text;
}

int Plot2DModel::labelExponent(double scale)
{
    const double l = std::log10(scale);
    if (!isFinite(l))
        return 0;
    return static_cast<int>(std::trunc(scale < 1 ? l - 0.5 : l + 0.5));
}

// ---- text export ----

int Plot2DModel::saveText(const char* path) const
{
    if (!path)
        return -1;
    plat::AtomicFileWriter file(path);
    if (file.open() != 0)
        return -1;
    std::string text;
    for (const auto& g : graphs) {
        if (!g->visible)
            continue;
        for (const auto& s : g->series) {
            if (s->points.empty())
                continue;
            text.clear();
            for (const Plot2DPoint& p : s->points)
                text += exactTextF(p.x) + ' ';
            text += '\n';
            for (const Plot2DPoint& p : s->points)
                text += exactTextF(p.y) + ' ';
            text += "\n\n";
            if (!file.write(text))
                return -1; // the writer discards the temporary file
        }
    }
    return file.commit() == 0 ? 0 : -1;
}
