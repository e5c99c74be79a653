#include "chart_types.h"

#include <cmath>
#include <cstring>

namespace {

void append(PtrArray<_ChartShape>& shapes, int type, double x1, double y1, double x2, double y2, COLORREF pen,
            COLORREF brush, const char* text = nullptr)
{
    auto shape = std::make_unique<_ChartShape>();
    shape->type = type;
    shape->x1 = x1;
    shape->y1 = y1;
    shape->x2 = x2;
    shape->y2 = y2;
    shape->pen = pen;
    shape->brush = brush;
    if (text)
        shape->text = text;
    shapes.push_back(std::move(shape));
}

} // namespace

void ChartShapeList::addLine(double x1, double y1, double x2, double y2, COLORREF pen, COLORREF brush)
{
    append(shapes, _ChartShape::Line, x1, y1, x2, y2, pen, brush);
}

void ChartShapeList::addFilledRect(double x1, double y1, double x2, double y2, COLORREF fill, COLORREF pen)
{
    append(shapes, _ChartShape::FilledRect, x1, y1, x2, y2, pen, fill);
}

void ChartShapeList::addEllipse(double x1, double y1, double x2, double y2, COLORREF pen)
{
    append(shapes, _ChartShape::Ellipse, x1, y1, x2, y2, pen, kChartHollow);
}

void ChartShapeList::addText(double x, double y, const char* text, double size)
{
    append(shapes, _ChartShape::Text, x, y, 0.0, size, 0x000000, kChartHollow, text ? text : "");
}

bool ChartDataFunction::getName(char*, int)
{
    return false;
}

bool ChartDataFunction::getXRange(double*, double*)
{
    return false;
}

bool ChartDataFunction::getYRange(double x1, double x2, double* min, double* max)
{
    double lo = INFINITY;
    double hi = -INFINITY;
    for (int i = 0; i < 100; ++i) {
        double y = 0.0;
        if (evaluate(x1 + i * (x2 - x1) / 99.0, &y, nullptr) && std::isfinite(y)) {
            lo = std::fmin(lo, y);
            hi = std::fmax(hi, y);
        }
    }
    *min = lo;
    *max = hi;
    return lo <= hi;
}

bool ChartDataFunction::evaluate(double x, double* y, double* yErr)
{
    *y = 100.0 * std::sin(x * M_PI / 180.0);
    if (yErr)
        *yErr = std::sqrt(std::fabs(*y));
    return true;
}
