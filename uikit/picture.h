// CPicture: the control that shows a frame as a false-colour image, stretched from a zoom rectangle,
// with an optional colour bar, axis labels, a border and a pixel grid. Dragging zooms, Ctrl+dragging
// selects, a double click shows the whole image, the right button asks for a menu; each is reported by a
// signal, as is the pixel under the mouse. It paints itself into SVG or bitmap exports as well.
// The image comes from the display model (PictureData) through PictureView; the control keeps its own
// reference to the shared pixels. Coordinates in pixels of the image have row 0 at the bottom.
// GUI thread only.
#pragma once

#include <memory>

#include <QImage>
#include <QString>
#include <QWidget>

#include "picture_view.h"

class QPainter;

class CPicture : public QWidget, public PictureView {
    Q_OBJECT

public:
    // Export flags.
    enum ExportFlags { ExportBorder = 1, ExportLabels = 2, ExportColorBar = 4 };
    static constexpr int kMaxExportSide = 16384;

    explicit CPicture(QWidget* parent = nullptr);
    ~CPicture() override;

    // PictureView
    void setImage(int width, int height, std::shared_ptr<const uint8_t[]> bits, int stride, bool resetZoom) override;
    void setColorPalette(const ColorPalette* palette) override;
    void setLevels(double min, double max) override;
    void repaintNow() override;
    PixelRect zoom() const override { return zoom_; }
    PixelRect selection() const override { return selection_; }
    void setZoomAndSelection(const PixelRect& zoom, const PixelRect& selection) override;
    int saveEmf(const char* path, int width, int height, int sizeMode, int flags) override;
    int saveBitmap(const char* path, int width, int height, int sizeMode, int flags) override;
    void showMessage(const std::string& text) override;

    // Zoom = whole image, no selection, no drag (no signal).
    void resetZoom();
    // Removes the selection and reports it (selectionChanged(false, ...)).
    void clearSelection();
    bool selectionShown() const { return selectionShown_; }
    int imageWidth() const { return imageWidth_; }
    // The client rectangle the image is stretched into (what a window sizes to show k screen pixels a
    // frame pixel).
    QRect imageArea() const;
    int imageHeight() const { return imageHeight_; }
    double levelMin() const { return levelMin_; }
    double levelMax() const { return levelMax_; }

    // Client point to image pixel (clamped into the image); false when there is no image or the control
    // leaves it no room.
    bool clientToPixel(const QPoint& point, int& x, int& y) const;
    // Image pixel to the client point of its top left corner; false without a zoom.
    bool pixelToClient(int x, int y, QPoint& point) const;

    // The six label texts around the image: x start, x end, y start, y end, x-axis and y-axis names.
    void setLabels(const QString& xStart, const QString& xEnd, const QString& yStart, const QString& yEnd,
                   const QString& xName, const QString& yName);
    void setInterpolate(bool on);
    void setShowGrid(bool on);
    void setShowLabels(bool on);
    void setShowColorBar(bool on);
    void setDrawBorder(bool on);
    void setDragEnabled(bool on) { dragEnabled_ = on; }
    void setNoRepaintOnZoom(bool on) { noRepaintOnZoom_ = on; }
    bool interpolate() const { return interpolate_; }
    bool showGrid() const { return showGrid_; }

    // Size of a whole export of the given mode (0 one pixel per zoomed image pixel, 1 the image area on
    // screen, 2 an image area of width x height, 3 the whole export width x height); false for an
    // unknown mode or a size below 1 or above kMaxExportSide.
    bool exportSize(int sizeMode, int width, int height, QSize& size);

signals:
    void pixelHovered(int x, int y);
    // byDrag: a drag made it; false: a double click showed the whole image.
    void zoomChanged(bool byDrag, const PixelRect& zoom);
    void contextMenuRequested(const QPoint& clientPoint, int x, int y);
    // byUser: a Ctrl+drag made a selection, or a press took the shown one away (the rectangle is kept,
    // selectionShown() false); false: clearSelection (rectangle zeroed).
    void selectionChanged(bool byUser, const PixelRect& selection);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct Box { // right and bottom exclusive
        int left = 0, top = 0, right = 0, bottom = 0;
        int width() const { return right - left; }
        int height() const { return bottom - top; }
        bool contains(const QPoint& p) const { return p.x() >= left && p.x() < right && p.y() >= top && p.y() < bottom; }
    };
    void readFontMetrics() const;
    void calcLayout(const QRect& rect) const;
    void ensureLayout() const; // the layout of the current size (a hidden control gets its resize late)
    void paintAll(QPainter& p, bool interactive);
    void paintLabels(QPainter& p);
    void paintColorBar(QPainter& p);
    void paintGrid(QPainter& p);
    bool selectionBox(const PixelRect& r, QRect& out) const;
    PixelRect dragRect() const;
    template <typename Paint> int exportTo(int sizeMode, int width, int height, int flags, Paint paint);

    QImage image_;
    const ColorPalette* palette_ = nullptr;
    mutable bool fontMetricsValid_ = false;
    mutable Box clientRect_, imageRect_, frameRect_, colorBarRect_;
    mutable QSize layoutSize_{-1, -1}; // the size the screen layout was made for
    QPoint dragStart_, dragEnd_;
    bool selectionShown_ = false;
    bool dragEnabled_ = true;
    bool dragging_ = false;
    int borderWidth_ = 0;
    int imageWidth_ = 0, imageHeight_ = 0;
    mutable int charWidth_ = 0, charHeight_ = 0;
    double levelMin_ = 0, levelMax_ = 1.0;
    PixelRect zoom_, selection_;
    QString labels_[6];
    bool interpolate_ = false, showGrid_ = false, showLabels_ = false, showColorBar_ = false, drawBorder_ = true;
    bool exportStyle_ = false, noRepaintOnZoom_ = false;
    QSize screenImageSize_; // during an export: the image area on screen (size mode 1)
};
