#include "chart_paint.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "chart_math.h"

namespace {

// Where the steps of the layout put things: each step takes its room from the plot area of the one
// before, so the positions of title, labels and legend depend on the order.
struct Layout {
    int f = 0; // the unit of the layout: a tenth of the client height, or a line of text when taller
    int t = 0; // the height of the title
    int line = 0; // the height of a line of the label text; 0: not known
    int clientMiddle = 0;
    ChartFont titleFont;
    ChartFont labelFont;
    bool title = false;
    bool yLabel = false;
    int yLabelCentre = 0;
    bool xLabel = false;
    int xLabelCentre = 0;
    int xLabelTop = 0;
    bool legend = false;
    ChartPlotArea plot;
};

// The chart's own size, else the window's font, else a size from the layout unit (in tenths of a
// point, unit / 2 points).
ChartFont fontOf(const ChartModel& c, const ChartCanvas* canvas, int unit, bool bold)
{
    if (c.fontSize > 0)
        return {c.fontSize, bold, false};
    const int window = canvas ? canvas->windowFontSize() : 0;
    if (window > 0)
        return {window, bold, true};
    return {unit * 5, bold, false};
}

Layout layoutOf(const ChartModel& c, const ChartCanvas* canvas, int width, int height)
{
    Layout l;
    l.f = static_cast<int>(0.1 * height);
    l.t = static_cast<int>(0.15 * height);
    l.labelFont = fontOf(c, canvas, l.f, false);
    l.titleFont = fontOf(c, canvas, l.t, true);
    if (canvas) {
        l.line = std::max(canvas->lineHeight(l.labelFont), 0);
        l.f = std::max(l.f, l.line);
        const int titleLine = std::max(canvas->lineHeight(l.titleFont), 0);
        l.t = std::max(l.t, titleLine + titleLine / 4);
    }
    l.plot = {3, 3, width - 3, height - 3};
    l.clientMiddle = width / 2;
    if (c.showTitle && !c.title.empty()) {
        l.title = true;
        l.plot.top += l.t;
    }
    if (c.showLabels && !c.yLabel.empty()) {
        l.yLabel = true;
        l.yLabelCentre = l.plot.left + l.f / 2;
        l.plot.left += l.f;
    }
    if (c.showLabels && !c.xLabel.empty()) {
        l.xLabel = true;
        l.plot.bottom -= l.f;
        l.xLabelCentre = (l.plot.left + l.plot.right) / 2;
        l.xLabelTop = l.plot.bottom + l.f / 4;
    }
    if (c.showAxes) {
        l.plot.left += 2 * l.f;
        l.plot.right -= l.f;
        l.plot.bottom -= l.f;
    }
    if (c.showLegend && c.series.size() > 1) {
        l.legend = true;
        l.plot.right -= 2 * l.f;
    }
    return l;
}

// Byte length of the first n characters of UTF-8 text.
size_t utf8Prefix(const std::string& text, size_t n)
{
    size_t i = 0;
    for (size_t chars = 0; i < text.size() && chars < n; ++chars) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return i;
}

class Painter {
public:
    Painter(const ChartModel& c, ChartCanvas& canvas, const Layout& l) : c_(c), canvas_(canvas), l_(l), p_(l.plot)
    {
        const double xRange = c.xMax - c.xMin;
        const double yRange = c.yMax - c.yMin;
        xScale_ = xRange != 0.0 ? p_.width() / xRange : 1.0;
        yScale_ = yRange != 0.0 ? p_.height() / yRange : 1.0;
        // pixel = left + (x - xMin) xScale, bottom - (y - yMin) yScale
        t_ = {static_cast<double>(p_.left), xScale_, c.xMin, static_cast<double>(p_.bottom), -yScale_, c.yMin};
        labelFont_ = l.labelFont;
        // A value beside a tick or grid line stands centred on it: half a line, or a quarter unit when
        // the line height is not known.
        raise_ = l.line > 0 ? l.line / 2 : l.f / 4;
    }

    void decorations();
    void axesAndGrid();
    void overlays();
    void series();

private:
    int px(double x) const { return chartToPixelX(t_, x); }
    int py(double y) const { return chartToPixelY(t_, y); }
    void text(int x, int y, const std::string& s, const ChartFont& font, ChartAlign align, COLORREF color)
    {
        if (font.size > 0 && !s.empty())
            canvas_.text(x, y, s, font, align, color);
    }
    void drawPoints(const ChartSeries& s, COLORREF color);
    void drawFunction(ChartDataFunction& f);

    const ChartModel& c_;
    ChartCanvas& canvas_;
    const Layout& l_;
    const ChartPlotArea p_;
    double xScale_ = 1.0;
    double yScale_ = 1.0;
    _ChartTransform t_;
    ChartFont labelFont_;
    int raise_ = 0;
    std::vector<ChartPixel> line_;
};

void Painter::decorations()
{
    const int f = l_.f;
    if (l_.title)
        text(l_.clientMiddle, l_.t / 8, c_.title, l_.titleFont, ChartAlign::Centre, c_.textColor);
    if (l_.yLabel && labelFont_.size > 0) // reads upwards beside the middle of the plot
        canvas_.verticalText(l_.yLabelCentre, (p_.top + p_.bottom) / 2, c_.yLabel, labelFont_, c_.textColor);
    if (l_.xLabel)
        text(l_.xLabelCentre, l_.xLabelTop, c_.xLabel, labelFont_, ChartAlign::Centre, c_.textColor);
    if (l_.legend) {
        const int side = 2 * c_.markerSize;
        for (size_t i = 0; i < c_.series.size(); ++i) {
            const int rowTop = p_.top + std::max(static_cast<int>(0.75 * f), l_.line) * static_cast<int>(i);
            if (rowTop > kChartPixelLimit)
                break;
            const int color = static_cast<int>(i);
            if (side > 0)
                canvas_.fillRect(p_.right + f / 2, rowTop + f / 4, side, side, c_.getSeriesColor(color));
            const std::string& name = c_.series[i]->name;
            const std::string shown = name.empty() ? "Slice " + std::to_string(i) : name.substr(0, utf8Prefix(name, 20));
            text(p_.right + f, rowTop, shown, labelFont_, ChartAlign::Left, c_.textColor);
        }
    }
}

void Painter::axesAndGrid()
{
    if (!c_.showAxes && !c_.showGrid)
        return;
    const int f = l_.f;
    const double xStep = chartTickStep(p_.width() / (2.0 * f), c_.xMax - c_.xMin);
    const double yStep = chartTickStep(p_.height() / static_cast<double>(f), c_.yMax - c_.yMin);
    std::vector<double> xTicks = chartTickValues(c_.xMin, c_.xMax, xStep);
    std::vector<double> yTicks = chartTickValues(c_.yMin, c_.yMax, yStep);
    if (!c_.showAxes) {
        // Ticks at the ends would sit on the frame: the first one near the maximum and any near the
        // minimum are left out.
        auto trim = [](std::vector<double>& ticks, double min, double max, double step) {
            if (!ticks.empty() && max - ticks.front() < 0.1 * step)
                ticks.erase(ticks.begin());
            std::erase_if(ticks, [&](double v) { return v - min < 0.1 * step; });
        };
        trim(xTicks, c_.xMin, c_.xMax, xStep);
        trim(yTicks, c_.yMin, c_.yMax, yStep);
    }
    if (c_.showAxes) {
        canvas_.setPen(c_.textColor, false);
        canvas_.line(p_.left, p_.top, p_.left, p_.bottom);
        canvas_.line(p_.left, p_.bottom, p_.right, p_.bottom);
        if (c_.showGrid) {
            canvas_.line(p_.left, p_.top, p_.right, p_.top);
            canvas_.line(p_.right, p_.top, p_.right, p_.bottom);
        }
        for (double v : xTicks) {
            const int x = px(v);
            canvas_.line(x, p_.bottom, x, p_.bottom + f / 6);
            text(x, p_.bottom + f / 3, chartFormatNumber(v, 5), labelFont_, ChartAlign::Centre, c_.textColor);
        }
        for (double v : yTicks) {
            const int y = py(v);
            canvas_.line(p_.left - f / 6, y, p_.left, y);
            text(p_.left - f / 3, y - raise_, chartFormatNumber(v, 5), labelFont_, ChartAlign::Right, c_.textColor);
        }
    }
    if (c_.showGrid) {
        canvas_.setPen(c_.gridColor, true);
        for (size_t i = 0; i < xTicks.size(); ++i) {
            if (!(xTicks[i] > c_.xMin) || (i == 0 && xTicks[i] == c_.xMax))
                continue;
            const int x = px(xTicks[i]);
            canvas_.line(x, p_.bottom - 1, x, p_.top + 1);
        }
        for (size_t i = 0; i < yTicks.size(); ++i) {
            if (!(yTicks[i] > c_.yMin) || (i == 0 && yTicks[i] == c_.yMax))
                continue;
            const int y = py(yTicks[i]);
            canvas_.line(p_.left + 1, y, p_.right - 1, y);
        }
    }
    if (!c_.showAxes) {
        const int middleX = (p_.left + p_.right) / 2;
        const int middleY = (p_.top + p_.bottom) / 2;
        for (double v : xTicks)
            text(px(v), middleY - raise_, chartFormatNumber(v, 5), labelFont_, ChartAlign::Centre, c_.gridColor);
        for (double v : yTicks)
            text(middleX, py(v) - raise_, chartFormatNumber(v, 5), labelFont_, ChartAlign::Centre, c_.gridColor);
        canvas_.setPen(c_.textColor, false);
        canvas_.rectangle(p_.left, p_.top, p_.right, p_.bottom, kChartHollow);
    }
}

bool finite(const _ChartShape& s)
{
    return std::isfinite(s.x1) && std::isfinite(s.y1) && std::isfinite(s.x2) && std::isfinite(s.y2);
}

void Painter::overlays()
{
    for (const auto& list : c_.overlays) {
        if (!list)
            continue;
        for (const auto& s : list->shapes) {
            if (!s || !finite(*s))
                continue;
            canvas_.setPen(s->pen, false);
            switch (s->type) {
            case _ChartShape::Line:
                canvas_.line(px(s->x1), py(s->y1), px(s->x2), py(s->y2));
                break;
            case _ChartShape::Rect:
                canvas_.rectangle(px(s->x1), py(s->y1), px(s->x2), py(s->y2), kChartHollow);
                break;
            case _ChartShape::FilledRect:
                canvas_.rectangle(px(s->x1), py(s->y1), px(s->x2), py(s->y2), s->brush);
                break;
            case _ChartShape::Ellipse:
                canvas_.ellipse(px(s->x1), py(s->y1), px(s->x2), py(s->y2), s->brush);
                break;
            case _ChartShape::Text: {
                const double size = std::clamp(s->y2, 0.0, 1000.0);
                text(px(s->x1), py(s->y1) - static_cast<int>(size), s->text,
                     {static_cast<int>(size * 10.0), false, true}, ChartAlign::Left, s->pen);
                break;
            }
            default:
                break;
            }
        }
    }
}

void Painter::drawPoints(const ChartSeries& s, COLORREF color)
{
    const int m = c_.markerSize;
    const int zeroY = py(0.0);
    line_.clear();
    auto flushLine = [&] {
        if (line_.size() > 1)
            canvas_.polyline(line_.data(), line_.size());
        line_.clear();
    };
    for (const _ChartPoint& p : s.points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            flushLine(); // the polyline breaks at a point that cannot be drawn
            continue;
        }
        const int x = px(p.x);
        const int y = py(p.y);
        switch (c_.pointStyle) {
        case ChartModel::Squares:
            if (m > 0)
                canvas_.fillRect(x - m, y - m, 2 * m, 2 * m, color);
            break;
        case ChartModel::Polyline:
            line_.push_back({x, y});
            break;
        case ChartModel::Bars: {
            const int w = std::max(m, 1);
            if (y != zeroY)
                canvas_.fillRect(x - w / 2, std::min(y, zeroY), w, std::abs(zeroY - y), color);
            break;
        }
        case ChartModel::Sticks:
            canvas_.line(x, y, x, zeroY);
            break;
        default:
            break;
        }
        if (c_.showErrorBars) {
            if (p.xErr > 0.0 && std::isfinite(p.xErr)) {
                const int x1 = px(p.x - p.xErr);
                const int x2 = px(p.x + p.xErr);
                canvas_.line(x1, y, x2, y);
                canvas_.line(x1, y - m, x1, y + m);
                canvas_.line(x2, y - m, x2, y + m);
            }
            if (p.yErr > 0.0 && std::isfinite(p.yErr)) {
                const int y1 = py(p.y - p.yErr);
                const int y2 = py(p.y + p.yErr);
                canvas_.line(x, y1, x, y2);
                canvas_.line(x - m, y1, x + m, y1);
                canvas_.line(x - m, y2, x + m, y2);
            }
        }
    }
    flushLine();
}

void Painter::drawFunction(ChartDataFunction& f)
{
    line_.clear();
    for (int column = p_.left; column <= p_.right; ++column) {
        double y = 0.0;
        const double x = (column - p_.left) / xScale_ + c_.xMin;
        if (f.evaluate(x, &y, nullptr) && std::isfinite(y))
            line_.push_back({column, py(y)});
    }
    if (line_.size() > 1)
        canvas_.polyline(line_.data(), line_.size());
    else if (line_.size() == 1)
        canvas_.line(line_[0].x, line_[0].y, line_[0].x + 1, line_[0].y);
    line_.clear();
}

void Painter::series()
{
    for (size_t i = 0; i < c_.series.size(); ++i) {
        const ChartSeries& s = *c_.series[i];
        const COLORREF color = c_.getSeriesColor(static_cast<int>(i));
        canvas_.setPen(color, false);
        drawPoints(s, color);
        for (const auto& f : s.functions)
            if (f)
                drawFunction(*f);
    }
}

} // namespace

void ChartCanvas::verticalText(int x, int y, std::string_view text, const ChartFont& font, COLORREF color)
{
    const std::string s(text);
    std::vector<std::string> characters;
    for (size_t i = 0; i < s.size();) {
        const size_t n = utf8Prefix(s.substr(i), 1);
        characters.push_back(s.substr(i, n));
        i += n;
    }
    // A line of the font at 96 dots per inch when the canvas does not know it.
    const int step = std::clamp(lineHeight(font) > 0 ? lineHeight(font) : font.size * 4 / 30, 1, kChartPixelLimit);
    int top = y - step * static_cast<int>(std::min<size_t>(characters.size(), 10000)) / 2;
    for (const std::string& character : characters) {
        if (top > kChartPixelLimit)
            break;
        this->text(x, top, character, font, ChartAlign::Centre, color);
        top += step;
    }
}

ChartPlotArea chartPlotArea(const ChartModel& chart, int width, int height)
{
    return layoutOf(chart, nullptr, width, height).plot;
}

ChartPlotArea chartPlotArea(const ChartModel& chart, const ChartCanvas& canvas, int width, int height)
{
    return layoutOf(chart, &canvas, width, height).plot;
}

void paintChart(const ChartModel& chart, ChartCanvas& canvas, int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    canvas.fillRect(0, 0, width, height, chart.backColor);
    const Layout layout = layoutOf(chart, &canvas, width, height);
    if (layout.plot.width() <= 0 || layout.plot.height() <= 0)
        return;
    Painter painter(chart, canvas, layout);
    painter.decorations();
    painter.axesAndGrid();
    canvas.clip(layout.plot.left, layout.plot.top, layout.plot.width() + 1, layout.plot.height() + 1);
    painter.overlays();
    painter.series();
}
