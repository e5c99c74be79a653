// What a chart shows and how: labels, ranges, display flags, colours, series and overlay lists, with the
// operations that change them. CChart2d paints it; free of Qt so that worker-side code and the sanitizer
// builds use it too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "chart_series.h"
#include "chart_types.h"

class ChartModel {
public:
    enum PointStyle : int { Squares = 0, Polyline = 1, Bars = 2, Sticks = 3 };

    ChartModel() = default;
    ChartModel(const ChartModel&) = delete;
    ChartModel& operator=(const ChartModel&) = delete;
    virtual ~ChartModel() = default;

    std::string title; // empty: none
    std::string xLabel;
    std::string yLabel;
    double xMin = 0.0;
    double xMax = 360.0;
    bool xAuto = true;
    bool yAuto = true;
    double yMin = -100.0;
    double yMax = 100.0;
    int yIncludeZero = 1; // the automatic y range starts from 0..0
    int pointStyle = Bars;
    bool showTitle = true;
    bool showLabels = true;
    bool showAxes = true;
    bool showGrid = true;
    bool showErrorBars = true;
    bool showLegend = true;
    int markerSize = 2; // pixels
    COLORREF backColor = 0xFFFFFF;
    COLORREF textColor = 0x000000; // also the axes and the frame
    COLORREF gridColor = 0x808080;
    int colorMode = 0; // see getSeriesColor
    // Size of the title, labels, tick values and legend in tenths of a point (Arial, the title bold);
    // 0: the window's own font at its size, so the chart reads like the rest of the window.
    int fontSize = 0;
    PtrArray<ChartSeries> series;
    PtrArray<ChartShapeList> overlays;

    // Copies the texts (null: none); returns true.
    bool setLabels(const char* title, const char* xLabel, const char* yLabel);
    // x: the union of the series' finite x ranges, taken when max > min and it differs from the current
    // range; then autoScaleY when yAuto.
    void autoScaleX();
    // y: the union of the series' finite y ranges within the x range (from 0..0 when yIncludeZero), taken
    // when max > min and it differs.
    void autoScaleY();
    // x automatic or fixed to [xmin, xmax], y fixed to [ymin, ymax]; false when nothing changed or a bound
    // is not finite (then nothing changes).
    bool setRange(bool xAutomatic, double xmin, double xmax, double ymin, double ymax);
    // Appends a series (see ChartSeries) and scales automatically; null when memory runs out.
    ChartSeries* addSeries(unsigned count, double x0, double dx, const uint16_t* values);
    ChartSeries* addEmptySeries(double x0, double dx, unsigned count = 4096);
    // Removes every series (and, with overlays, every overlay list).
    void clearSeries();
    // Appends an empty overlay list, drawn after those before it.
    ChartShapeList* addOverlay();
    COLORREF getSeriesColor(int i) const;
    // Every series with ChartSeries::write; false on the first failure.
    bool writeData(FILE* file) const;
    // Scales automatically as addSeries does: x (with y) when xAuto, else y when yAuto.
    void autoScale();

    // Mouse: the middle button cycles the point style; a double click toggles title, labels and axes
    // (and the legend when toggleLegendOnDblClk).
    void cyclePointStyle();
    void toggleDecorations();
    bool toggleLegendOnDblClk = false;

protected:
    // Called after every operation that changes what is shown; a window repaints here.
    virtual void changed() {}
};
