#include "qt_chart_canvas.h"

#include <algorithm>

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

void QtChartCanvas::text(int x, int y, std::string_view text, const ChartFont& font, ChartAlign align, COLORREF c)
{
    if (font.size <= 0 || text.empty())
        return;
    if (!fontSet_ || font.size != font_.size || font.bold != font_.bold || font.defaultFace != font_.defaultFace) {
        QFont f = font.defaultFace ? QFont() : QFont(QStringLiteral("Arial"));
        f.setPointSizeF(font.size / 10.0);
        f.setWeight(font.bold ? QFont::Bold : QFont::Normal);
        painter_.setFont(f);
        font_ = font;
        fontSet_ = true;
    }
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

void QtChartCanvas::clip(int left, int top, int width, int height)
{
    painter_.setClipRect(left, top, width, height);
}
