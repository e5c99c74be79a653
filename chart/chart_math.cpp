#include "chart_math.h"

#include <charconv>
#include <cmath>

double chartTickStep(double n, double range)
{
    if (!(range > 1e-100) || !std::isfinite(range))
        return 1.0;
    if (!(n > 0.0) || !std::isfinite(n))
        n = 2.0;
    double b = range / n;
    if (!std::isfinite(b) || b <= 0.0)
        return 1.0;
    double p = 1.0;
    while (b > 100.0) {
        b /= 100.0;
        p *= 100.0;
    }
    while (b < 1.0) {
        b *= 100.0;
        p /= 100.0;
    }
    double step = 1.0;
    if (b > 50.0)
        step = 100.0;
    else if (b > 25.0)
        step = 50.0;
    else if (b > 20.0)
        step = 25.0;
    else if (b > 10.0)
        step = 20.0;
    else if (b > 5.0)
        step = 10.0;
    else if (b > 2.0)
        step = 5.0;
    else if (b > 1.0)
        step = 2.0;
    return p * step;
}

std::vector<double> chartTickValues(double min, double max, double step)
{
    std::vector<double> ticks;
    if (!(step > 0.0) || !std::isfinite(step) || !std::isfinite(min) || !std::isfinite(max))
        return ticks;
    const double high = std::floor(max / step);
    const double low = std::ceil(min / step);
    if (!std::isfinite(high) || !std::isfinite(low))
        return ticks;
    for (double i = 0.0; high - i >= low && ticks.size() < 1000; i += 1.0) {
        const double value = (high - i) * step;
        if (!ticks.empty() && value == ticks.back())
            break;
        ticks.push_back(value);
    }
    return ticks;
}

int chartRoundPixel(double pixel)
{
    const double r = std::floor(pixel + 0.5);
    if (!(r >= -kChartPixelLimit))
        return -kChartPixelLimit;
    if (r > kChartPixelLimit)
        return kChartPixelLimit;
    return static_cast<int>(r);
}

int chartToPixelX(const _ChartTransform& t, double x)
{
    return chartRoundPixel(t.xOffset + t.xScale * (x - t.xBase));
}

int chartToPixelY(const _ChartTransform& t, double y)
{
    return chartRoundPixel(t.yOffset + t.yScale * (y - t.yBase));
}

COLORREF chartSeriesColor(int i, unsigned count, int colorMode, COLORREF backColor)
{
    if (colorMode == 1) {
        const double left = static_cast<double>(count) - static_cast<double>(i);
        double f = left > 0.0 ? 1.0 - 1.0 / left : 1.0;
        f = std::fmin(1.0, std::fmax(0.0, f));
        return chartRgb(static_cast<unsigned>(f * chartRed(backColor)),
                        static_cast<unsigned>(f * chartGreen(backColor)),
                        static_cast<unsigned>(f * chartBlue(backColor)));
    }
    return chartRgb(i & 1 ? 0 : 192, i & 2 ? 192 : 0, i & 4 ? 224 : 32);
}

std::string chartFormatNumber(double value, int precision)
{
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
    return std::string(buf, result.ptr);
}
