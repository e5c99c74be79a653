// Tick steps, tick values, data-to-pixel transforms and series colours of the chart. Free of Qt.
#pragma once

#include <string>
#include <vector>

#include "chart_types.h"

// The step between axis ticks for about n ticks over range: 1, 2, 2.5 or 5 times a power of 10 (1 for a
// range <= 1e-100 or one that is not finite; n <= 0 counts as 2).
double chartTickStep(double n, double range);

// Tick values k step from the highest k step <= max down to the lowest >= min, at most 1000 of them, and
// none that repeats the one before (where step is below the spacing of doubles near max).
std::vector<double> chartTickValues(double min, double max, double step);

// Pixel = offset + scale (value - base), rounded half up and clamped to -16383..16383 (NaN to -16383).
// The base keeps the precision of data far from zero over a narrow range (1e17 +- 5).
inline constexpr int kChartPixelLimit = 16383;
int chartRoundPixel(double pixel);
struct _ChartTransform {
    double xOffset = 0.0;
    double xScale = 1.0;
    double xBase = 0.0;
    double yOffset = 0.0;
    double yScale = 1.0;
    double yBase = 0.0;
};
int chartToPixelX(const _ChartTransform& t, double x);
int chartToPixelY(const _ChartTransform& t, double y);

// Colour of series i of count. Mode 1: the newest series black, older ones fading towards backColor
// (an index beyond the count takes backColor). Other modes: an 8-colour cycle.
COLORREF chartSeriesColor(int i, unsigned count, int colorMode, COLORREF backColor);

// A number as printf's "%.<precision>g" in the C locale ("%lg" is precision 6).
std::string chartFormatNumber(double value, int precision = 6);
