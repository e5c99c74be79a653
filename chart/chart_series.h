// A series of a chart: points in ascending x and the curves drawn with it. Free of Qt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "chart_types.h"

class ChartSeries {
public:
    ChartSeries() = default;
    // count zero points at x = x0 + i dx.
    ChartSeries(unsigned count, double x0, double dx);
    // count points at x = x0 + i dx with y = values[i] (0 when values is null).
    ChartSeries(unsigned count, double x0, double dx, const uint16_t* values);

    std::string name; // empty: the legend shows "Slice <index>"
    DynArray<_ChartPoint> points;
    PtrArray<ChartDataFunction> functions;

    // Replaces the points as the constructors make them.
    void setValues(unsigned count, double x0, double dx, const uint16_t* values);
    void reset(unsigned count, double x0, double dx);
    // Grows to n points, the new ones zero; a smaller n returns false and changes nothing.
    bool resizePoints(unsigned n);
    // Inserts a zero point at index (at most the count), shifting the rest.
    void insertPoint(unsigned index);
    // 0 when x <= the first x, the count when x > the last x, else the first point whose x >= x.
    unsigned findPoint(double x) const;
    unsigned count() const { return static_cast<unsigned>(points.size()); }

    // The finite x range of the points, widened by the functions' ranges; false when there is none or
    // when a function is defined for every x.
    bool getXRange(double* min, double* max) const;
    // The finite y range of the points with x in [x1, x2] and of the functions over [x1, x2]; min and
    // max are written whenever any value was found, the result is true when max > min.
    bool getYRange(double x1, double x2, double* min, double* max) const;

    // One text line: per point [x[\xB1xErr];]y[\xB1yErr] and " \t", then "\n"; numbers as "%lg" in the
    // C locale. The x part appears when any x differs from its index or any xErr is set, each error
    // part when any such error is set. False when the stream fails.
    bool write(FILE* file) const;
    std::string text() const;
};
