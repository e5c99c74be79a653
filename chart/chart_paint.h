// The drawing of a chart, step by step, onto an abstract canvas: the window hands it a painter, tests a
// recorder. Free of Qt.
#pragma once

#include <cstddef>
#include <string_view>

#include "chart_model.h"

struct ChartPixel {
    int x;
    int y;
};

struct ChartFont {
    int size = 0; // tenths of a point; text of size <= 0 is not drawn
    bool bold = false;
    bool defaultFace = false; // the window's face instead of Arial
};

enum class ChartAlign { Left, Centre, Right }; // horizontal; (x, y) is the top of the text

class ChartCanvas {
public:
    virtual ~ChartCanvas() = default;
    virtual void fillRect(int left, int top, int width, int height, COLORREF color) = 0;
    // A 1-pixel pen for the lines, outlines and polylines that follow.
    virtual void setPen(COLORREF color, bool dotted) = 0;
    virtual void line(int x1, int y1, int x2, int y2) = 0;
    virtual void polyline(const ChartPixel* points, size_t count) = 0;
    // Outlined with the pen, filled with brush unless it is kChartHollow; (x1, y1) and (x2, y2) are
    // opposite corners, in any order.
    virtual void rectangle(int x1, int y1, int x2, int y2, COLORREF brush) = 0;
    virtual void ellipse(int x1, int y1, int x2, int y2, COLORREF brush) = 0;
    virtual void text(int x, int y, std::string_view text, const ChartFont& font, ChartAlign align,
                      COLORREF color) = 0;
    // Text turned by 90 degrees to read upwards, centred on (x, y). This base, for canvases that cannot
    // turn text, stands the characters one under the other instead.
    virtual void verticalText(int x, int y, std::string_view text, const ChartFont& font, COLORREF color);
    // Drawing from now on is limited to the rectangle.
    virtual void clip(int left, int top, int width, int height) = 0;

    // The size of the window's own font in tenths of a point; 0: none, the chart's text is then sized
    // from the client height.
    virtual int windowFontSize() const { return 0; }
    // The height in pixels of a line of text in the font; 0: not known (the layout then assumes that
    // text fits the room it gives).
    virtual int lineHeight(const ChartFont&) const { return 0; }
};

// Edges of the plot area (right and bottom exclusive of nothing: the axes lie on them).
struct ChartPlotArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// The plot area of a chart of the given client size after title, labels, axes and legend took their room.
// The layout unit is a tenth of the client height, or the line height of the chart's text on the canvas
// when that is taller, so that the text of a small chart keeps its room.
ChartPlotArea chartPlotArea(const ChartModel& chart, int width, int height);
ChartPlotArea chartPlotArea(const ChartModel& chart, const ChartCanvas& canvas, int width, int height);

// Paints the chart into a client rectangle of the given size. A plot area that is empty after the
// layout leaves only the background.
void paintChart(const ChartModel& chart, ChartCanvas& canvas, int width, int height);
