// The 2-D plot without its window: graphs of x/y series, axis ranges that follow the data or are fixed by
// the owner, the axis layout with scaled tick labels, the mapping of values to pixels and the tool-bar
// steps. Plot2D (plot2d.h) draws it. Owners set the public fields directly, as they would a control's.
// One thread (the GUI thread of the plot's window).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A colour as the suite's code gives them: 0x00BBGGRR.
using PlotColor = uint32_t;
constexpr PlotColor plotRgb(int r, int g, int b)
{
    return PlotColor(r & 0xFF) | (PlotColor(g & 0xFF) << 8) | (PlotColor(b & 0xFF) << 16);
}

struct Plot2DPoint {
    double x;
    double y;
};

// One curve. Bounds (+1e300, -1e300) mean "not known"; only finite coordinates widen them.
class Plot2DSeries {
public:
    enum Style { Points = 0, Histogram = 1, AutoWidthHistogram = 2, Lines = 3 };
    static constexpr double kUnknownMin = 1e300;
    static constexpr double kUnknownMax = -1e300;

    Plot2DSeries() = default;
    // n points x = x0 + i x step, y = 0; x bounds [x0, x0 + n x step] (ends swapped for a negative step:
    // the last bin of a histogram keeps its width), y bounds unknown.
    Plot2DSeries(int n, double x0, double step);
    // The same with y from values; the y bounds follow them.
    Plot2DSeries(std::span<const double> values, double x0, double step);

    void addPoint(double x, double y); // appends and widens the bounds
    void computeXBounds();             // from the points
    void computeYBounds();

    std::vector<Plot2DPoint> points;
    std::string name;
    double xMin = kUnknownMin, yMin = kUnknownMin, xMax = kUnknownMax, yMax = kUnknownMax;
    int style = Lines;
    int size = 2; // point edge, bar width or line width in pixels
    PlotColor color = 0;
};

struct Plot2DGraph {
    std::vector<std::unique_ptr<Plot2DSeries>> series;
    std::string name;
    bool visible = true;
    int seriesCount = 0; // series attached since the last clear: picks the next colour
};

// A pixel rectangle, right and bottom exclusive.
struct PlotRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

class Plot2DModel {
public:
    // Codes of the owner notification: what the user changed with the tool bar.
    enum Change { XRangeChanged = 0, YRangeChanged = 1, XAutoScaleToggled = 2, YAutoScaleToggled = 3 };
    static constexpr int kMaxLabels = 10;

    Plot2DModel(); // one unnamed graph
    virtual ~Plot2DModel();
    Plot2DModel(const Plot2DModel&) = delete;
    Plot2DModel& operator=(const Plot2DModel&) = delete;

    // ---- graphs and series (graph -1: currentGraph; a bad index returns false and changes nothing) ----
    void addGraph(const std::string& name);
    void clearSeries();
    bool addSeries(int graph, std::unique_ptr<Plot2DSeries> series);
    bool addEmptySeries(int graph);
    bool addValueSeries(std::span<const double> values, double x0, double step);
    bool addPoint(bool repaint, double x, double y, int graph = -1, int series = -1); // series -1: the last
    bool setPointY(double x, double y, int graph = -1, int series = -1);
    bool removeFirstSeries(int graph);
    bool setFirstSeriesColor(int graph, PlotColor color);
    void setSeriesStyle(int style);
    // graph -2: every graph (returns false); else the previous visibility.
    bool showGraph(int graph, bool visible);
    Plot2DGraph* graph(int index); // -1: currentGraph; null when out of range
    int graphCount() const { return static_cast<int>(graphs.size()); }

    // ---- ranges ----
    void setRange(double xMin, double xMax, double yMin, double yMax);
    void setXRange(double min, double max);
    void setYRange(double min, double max);
    void setAutoScaleX(bool on);
    void setAutoScaleY(bool on);
    void updateXRange();
    void updateYRange();
    void extendRange(const Plot2DSeries& series);

    // ---- tool-bar steps: true when applied; an empty plot or a step to a zero or non-finite width is
    // ignored (false) ----
    bool panHorizontally(int direction); // -1 left, +1 right
    bool panVertically(int direction);   // -1 down, +1 up
    bool zoomInX();
    bool zoomOutX();
    bool zoomInY(); // y zooming moves only yMax: plots anchored at zero stay so
    bool zoomOutY();

    // ---- axis layout and pixel mapping ----
    // step and label scale for n labels over range; step 0 when no label fits (n <= 0) or the range is
    // not a positive finite number.
    static void calcTickStep(int n, double range, double& step, double& scale);
    static double calcLabelScale(double min, double max, double step, double scale);
    // Lays the axes out in rect (shrunk for the labels) with digitWidth and lineHeight. False when the
    // rectangle or the ranges leave nothing to draw.
    bool layoutAxes(PlotRect& rect);
    // Tick values from the layout: start + k x step below the axis end, at most n + 2 of them; a value
    // within a billionth of a step of 0 is 0.
    std::vector<double> xTicks() const;
    std::vector<double> yTicks() const;
    // Pixel of a value after layoutAxes; false for a value that is not finite. Far-off values are clamped
    // well outside the rectangle.
    bool mapX(double x, double& px) const;
    bool mapY(double y, double& py) const;
    // The label text of a tick ("%.10g" of value / scale).
    static std::string tickLabel(double value, double scale);
    // The power of ten written at an axis end for a label scale.
    static int labelExponent(double scale);
    // Width in pixels of a label text in the label font: as many digit widths as characters here; the
    // window measures it.
    virtual double labelTextWidth(const std::string& text) const;
    // The rectangle left after the margins (render steps 1-2).
    PlotRect plotArea(const PlotRect& rect) const;

    // The text export: per visible graph and series with points, the x values ("%f " each, exact), a line
    // feed, the y values, "\n\n". 0, or -1 (the old file kept).
    int saveText(const char* path) const;

    // The series colours, picked by seriesCount modulo 21.
    static PlotColor seriesColor(int index);

    // ---- fields, set directly by the owner ----
    std::vector<std::unique_ptr<Plot2DGraph>> graphs;
    int currentGraph = 0;
    double xMin = 1e300, xMax = -1e300, yMin = 1e300, yMax = -1e300;
    bool autoRedraw = true;
    bool showGrid = true;
    bool autoScaleX = true, autoScaleY = true;
    bool showXAxis = true, showYAxis = true;
    bool showXLabels = true, showYLabels = true;
    bool fixXMin = false, fixXMax = false, fixYMin = false, fixYMax = false;
    double fixedXMin = 0, fixedXMax = 0, fixedYMin = 0, fixedYMax = 0;
    double marginX = 0.02, marginY = 0.01;
    double labelGapY = 0.2, labelGapX = 0.7;
    double xLabelExtra = 1.5, yLabelExtra = 0.5;
    double tickLength = 0.3;
    double zoomX = 0.2, zoomY = 0.2, panX = 0.2;
    double smallFontRatio = 0.75;
    PlotColor axisColor = 0;
    PlotColor backgroundColor = 0xFFFFFF;
    int axisWidth = 1;
    int defaultStyle = Plot2DSeries::Lines;
    double digitWidth = 0, lineHeight = 0; // measured from the label font
    std::string fontFace = "MS Shell Dlg 2";
    int fontSize = 80; // tenths of a point
    int xLabelWidth = 0, yLabelWidth = 0;
    int xLabelCount = 0, yLabelCount = 0; // n of the layout
    double xTickStart = 0, xTickStep = 0, xLabelScale = 0;
    double yTickStart = 0, yTickStep = 0, yLabelScale = 0;
    double xUnitsPerPixel = 0, yUnitsPerPixel = 0;
    PlotRect plotRect; // the rectangle of the last layout
    int buttonMask = -1; // bit n: tool-bar button n shown
    int menuFlags = 0;   // context-menu items; 0: no menu
    int buttonWidth = 22;
    int toolbarHeight = 22;

protected:
    // Hooks of the window: repaint when autoRedraw; the auto-scale state changed (check the button).
    virtual void redraw() {}
    virtual void autoScaleChanged(bool /*xAxis*/, bool /*on*/) {}

private:
    void attachSeries(Plot2DGraph& g, std::unique_ptr<Plot2DSeries> series);
    Plot2DSeries* seriesAt(Plot2DGraph& g, int index);
    std::vector<double> ticks(double start, double step, double end, int n) const;
};
