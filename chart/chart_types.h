// Records of the chart library: points, overlay shapes, curves y = f(x) and the owning arrays that hold
// them. No Qt here: the analysis code of the plug-ins keeps its series in these records on worker threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A colour as 0x00BBGGRR (0x0000FF is red); kChartHollow as a brush draws no fill.
using COLORREF = uint32_t;
inline constexpr COLORREF kChartHollow = 0xFFFFFFFFu;

inline constexpr COLORREF chartRgb(unsigned r, unsigned g, unsigned b)
{
    return (r & 0xFFu) | (g & 0xFFu) << 8 | (b & 0xFFu) << 16;
}
inline constexpr unsigned chartRed(COLORREF c) { return c & 0xFFu; }
inline constexpr unsigned chartGreen(COLORREF c) { return c >> 8 & 0xFFu; }
inline constexpr unsigned chartBlue(COLORREF c) { return c >> 16 & 0xFFu; }

// Owning arrays: an array of values and an array of owned objects.
template <typename T>
using DynArray = std::vector<T>;
template <typename T>
using PtrArray = std::vector<std::unique_ptr<T>>;

// One point of a series; an error of 0 means none.
struct _ChartPoint {
    double x = 0.0;
    double y = 0.0;
    double xErr = 0.0;
    double yErr = 0.0;
};

// One overlay shape in data units. For text, (x1, y1) is the place and y2 the font size in points.
struct _ChartShape {
    enum Type : int { Line = 0, Rect = 1, FilledRect = 2, Ellipse = 3, Text = 4 };
    int type = Line;
    double x1 = 0.0;
    double y1 = 0.0;
    double x2 = 0.0;
    double y2 = 0.0;
    std::string text;
    COLORREF pen = 0;
    COLORREF brush = kChartHollow;
};

// A list of overlay shapes, drawn in order over the plot area.
class ChartShapeList {
public:
    PtrArray<_ChartShape> shapes;

    void addLine(double x1, double y1, double x2, double y2, COLORREF pen = 0x0000FF, COLORREF brush = 0xFFFFFF);
    void addFilledRect(double x1, double y1, double x2, double y2, COLORREF fill, COLORREF pen = 0x000000);
    void addEllipse(double x1, double y1, double x2, double y2, COLORREF pen);
    void addText(double x, double y, const char* text, double size);
    void clear() { shapes.clear(); }
};

// A curve y = f(x) that a series draws. Owned by its series and deleted through this base.
class ChartDataFunction {
public:
    virtual ~ChartDataFunction() = default;
    // Writes the legend name (terminated, at most len - 1 characters); the base has none.
    virtual bool getName(char* buf, int len);
    // The x range the function is defined on; the base is defined for every x and returns false.
    virtual bool getXRange(double* min, double* max);
    // Min and max of the finite values at 100 points over [x1, x2]; true when any was found.
    virtual bool getYRange(double x1, double x2, double* min, double* max);
    // y (and its error when yErr is not null) at x; false where the function is undefined. The base
    // gives 100 sin(x degrees) with the error sqrt(|y|).
    virtual bool evaluate(double x, double* y, double* yErr);
};
