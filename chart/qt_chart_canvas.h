// The chart's canvas on a QPainter. The painter's font when the canvas is made is the window's font
// (a painter on a widget starts with the widget's font).
#pragma once

#include <QFont>
#include <QPainter>
#include <QVector>

#include "chart_paint.h"

class QtChartCanvas final : public ChartCanvas {
public:
    explicit QtChartCanvas(QPainter& painter) : painter_(painter), windowFont_(painter.font()) {}

    void fillRect(int left, int top, int width, int height, COLORREF color) override;
    void setPen(COLORREF color, bool dotted) override;
    void line(int x1, int y1, int x2, int y2) override;
    void polyline(const ChartPixel* points, size_t count) override;
    void rectangle(int x1, int y1, int x2, int y2, COLORREF brush) override;
    void ellipse(int x1, int y1, int x2, int y2, COLORREF brush) override;
    void text(int x, int y, std::string_view text, const ChartFont& font, ChartAlign align,
              COLORREF color) override;
    void verticalText(int x, int y, std::string_view text, const ChartFont& font, COLORREF color) override;
    void clip(int left, int top, int width, int height) override;
    int windowFontSize() const override;
    int lineHeight(const ChartFont& font) const override;

    static QColor color(COLORREF c) { return QColor(int(chartRed(c)), int(chartGreen(c)), int(chartBlue(c))); }

private:
    void setBrush(COLORREF brush);
    QFont qfont(const ChartFont& font) const;
    void useFont(const ChartFont& font);

    QPainter& painter_;
    const QFont windowFont_;
    QVector<QPoint> points_;
    ChartFont font_{};
    bool fontSet_ = false;
};
