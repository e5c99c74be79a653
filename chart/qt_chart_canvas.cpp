#include "qt_chart_canvas.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPen>

void QtChartCanvas::fillRect(int left, int top, int width, int height, COLORREF c)
{
    painter_.fillRect(left, top, width, height, color(c));
}

void QtChartCanvas::setPen(COLORREF c, bool dotted)
{
    QPen pen(color(c));
    pen.setWidth(1);
    pen.setStyle(dotted ? Qt::DotLine : Qt::SolidLine);
    painter_.setPen(pen);
}

void QtChartCanvas::line(int x1, int y1, int x2, int y2)
{
    painter_.drawLine(x1, y1, x2, y2);
}

void QtChartCanvas::polyline(const ChartPixel* points, size_t count)
{
    points_.resize(static_cast<qsizetype>(count));
    for (size_t i = 0; i < count; ++i)
        points_[static_cast<qsizetype>(i)] = QPoint(points[i].x, points[i].y);
    painter_.drawPolyline(points_.constData(), static_cast<int>(points_.size()));
}

void QtChartCanvas::setBrush(COLORREF brush)
{
    if (brush == kChartHollow)
        painter_.setBrush(Qt::NoBrush);
    else
        painter_.setBrush(color(brush));
}

void QtChartCanvas::rectangle(int x1, int y1, int x2, int y2, COLORREF brush)
{
    setBrush(brush);
    painter_.drawRect(QRect(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2), std::max(y1, y2))));
}

void QtChartCanvas::ellipse(int x1, int y1, int x2, int y2, COLORREF brush)
{
    setBrush(brush);
    painter_.drawEllipse(QRect(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2), std::max(y1, y2))));
}

QFont QtChartCanvas::qfont(const ChartFont& font) const
{
    QFont f = font.defaultFace ? windowFont_ : QFont(QStringLiteral("Arial"));
    f.setPointSizeF(font.size / 10.0);
    f.setWeight(font.bold ? QFont::Bold : QFont::Normal);
    return f;
}

void QtChartCanvas::useFont(const ChartFont& font)
{
    if (!fontSet_ || font.size != font_.size || font.bold != font_.bold || font.defaultFace != font_.defaultFace) {
        painter_.setFont(qfont(font));
        font_ = font;
        fontSet_ = true;
    }
}

int QtChartCanvas::windowFontSize() const
{
    if (windowFont_.pointSizeF() > 0)
        return static_cast<int>(std::lround(windowFont_.pointSizeF() * 10.0));
    // A font sized in pixels: its size in points on this device.
    const QPaintDevice* device = painter_.device();
    const int dpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : 96;
    return static_cast<int>(std::lround(windowFont_.pixelSize() * 720.0 / dpi));
}

int QtChartCanvas::lineHeight(const ChartFont& font) const
{
    if (font.size <= 0)
        return 0;
    const QPaintDevice* device = painter_.device();
    return device ? QFontMetrics(qfont(font), device).height() : QFontMetrics(qfont(font)).height();
}

void QtChartCanvas::text(int x, int y, std::string_view text, const ChartFont& font, ChartAlign align, COLORREF c)
{
    if (font.size <= 0 || text.empty())
        return;
    useFont(font);
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QFontMetrics metrics = painter_.fontMetrics();
    int left = x;
    if (align != ChartAlign::Left) {
        const int w = metrics.horizontalAdvance(s);
        left = align == ChartAlign::Centre ? x - w / 2 : x - w;
    }
    const QPen pen = painter_.pen();
    painter_.setPen(color(c));
    painter_.drawText(left, y + metrics.ascent(), s);
    painter_.setPen(pen);
}

void QtChartCanvas::verticalText(int x, int y, std::string_view text, const ChartFont& font, COLORREF c)
{
    if (font.size <= 0 || text.empty())
        return;
    useFont(font);
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QFontMetrics metrics = painter_.fontMetrics();
    const QPen pen = painter_.pen();
    painter_.save();
    painter_.translate(x, y);
    painter_.rotate(-90.0); // the text's x axis points up the screen, its top to the left
    painter_.setPen(color(c));
    painter_.drawText(-metrics.horizontalAdvance(s) / 2, -metrics.height() / 2 + metrics.ascent(), s);
    painter_.restore();
    painter_.setPen(pen);
}

void QtChartCanvas::clip(int left, int top, int width, int height)
{
    painter_.setClipRect(left, top, width, height);
}
