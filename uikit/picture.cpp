// The frame picture control.
#include "picture.h"

#include <cmath>
#include <cstdio>

#include <QBuffer>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgGenerator>
#include <QThread>

#include "color_palette.h"
#include "image_saving.h"
#include "mem_dc.h"
#include "message_box.h"
#include "platform/file_write.h"

namespace {

// Keeps the model's pixels alive for as long as any QImage made over them lives.
void releaseBits(void* info)
{
    delete static_cast<std::shared_ptr<const uint8_t[]>*>(info);
}

QString levelText(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", v);
    QString s = QString::fromLatin1(text);
    s.replace(QLatin1Char(','), QLatin1Char('.'));
    return s;
}

} // namespace

CPicture::CPicture(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CPicture::~CPicture() = default;

void CPicture::readFontMetrics() const
{
    const QFontMetrics fm = fontMetrics();
    charWidth_ = fm.averageCharWidth();
    charHeight_ = fm.height();
    fontMetricsValid_ = true;
}

void CPicture::setImage(int width, int height, std::shared_ptr<const uint8_t[]> bits, int stride, bool reset)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!fontMetricsValid_)
        readFontMetrics();
    if (bits && width > 0 && height > 0) {
        const uint8_t* data = bits.get();
        image_ = QImage(data, width, height, stride, QImage::Format_BGR888, releaseBits,
                        new std::shared_ptr<const uint8_t[]>(std::move(bits)));
        imageWidth_ = width;
        imageHeight_ = height;
    } else {
        image_ = QImage();
        imageWidth_ = imageHeight_ = 0;
    }
    if (reset)
        resetZoom();
    update();
}

void CPicture::setColorPalette(const ColorPalette* palette)
{
    palette_ = palette;
    update();
}

void CPicture::setLevels(double min, double max)
{
    levelMin_ = min;
    levelMax_ = max == min ? max + 1 : max;
}

void CPicture::repaintNow()
{
    if (isVisible())
        repaint();
    else
        update();
}

void CPicture::setZoomAndSelection(const PixelRect& zoom, const PixelRect& selection)
{
    zoom_ = zoom;
    selection_ = selection;
    update();
}

void CPicture::resetZoom()
{
    zoom_ = {0, 0, imageWidth_, imageHeight_};
    selection_ = {};
    selectionShown_ = false;
    dragging_ = false;
}

void CPicture::clearSelection()
{
    selection_ = {};
    selectionShown_ = false;
    update();
    emit selectionChanged(false, selection_);
}

void CPicture::setLabels(const QString& xStart, const QString& xEnd, const QString& yStart, const QString& yEnd,
                         const QString& xName, const QString& yName)
{
    labels_[0] = xStart;
    labels_[1] = xEnd;
    labels_[2] = yStart;
    labels_[3] = yEnd;
    labels_[4] = xName;
    labels_[5] = yName;
    update();
}

void CPicture::setInterpolate(bool on) { interpolate_ = on; update(); }
void CPicture::setShowGrid(bool on) { showGrid_ = on; update(); }
void CPicture::setShowLabels(bool on) { showLabels_ = on; calcLayout(rect()); update(); }
void CPicture::setShowColorBar(bool on) { showColorBar_ = on; calcLayout(rect()); update(); }
void CPicture::setDrawBorder(bool on) { drawBorder_ = on; calcLayout(rect()); update(); }

// ---- layout and coordinates ----

QRect CPicture::imageArea() const
{
    ensureLayout();
    return QRect(imageRect_.left, imageRect_.top, imageRect_.width(), imageRect_.height());
}

void CPicture::ensureLayout() const
{
    if (layoutSize_ != size() && borderWidth_ == 0)
        calcLayout(rect());
}

void CPicture::calcLayout(const QRect& rect) const
{
    if (!fontMetricsValid_)
        readFontMetrics();
    Box r{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
    const int b = borderWidth_;
    layoutSize_ = b == 0 && !exportStyle_ && rect == this->rect() ? rect.size() : QSize(-1, -1);
    if (b > 0) {
        clientRect_ = {r.left, r.top, r.right + 2 * b, r.bottom + 2 * b};
        frameRect_ = {r.left + b, r.top + b, r.right + b, r.bottom + b};
    } else {
        clientRect_ = r;
        frameRect_ = r;
    }
    if (showLabels_) {
        frameRect_.left += 4 * charWidth_ + 5;
        frameRect_.bottom -= charHeight_ + 1;
    }
    if (showColorBar_) {
        const int previousBottom = frameRect_.bottom;
        frameRect_.bottom -= charHeight_ / 2 + 2 * charHeight_ + 1;
        colorBarRect_.left = frameRect_.left;
        colorBarRect_.right = frameRect_.right;
        colorBarRect_.top = previousBottom + (showLabels_ ? charHeight_ + 1 : 0) - 2 * charHeight_ - 1;
        colorBarRect_.bottom = colorBarRect_.top + charHeight_;
    }
    imageRect_ = frameRect_;
    if (drawBorder_) {
        imageRect_.left += 1;
        imageRect_.top += 1;
        imageRect_.right -= 1;
        imageRect_.bottom -= 1;
    }
}

bool CPicture::clientToPixel(const QPoint& p, int& x, int& y) const
{
    ensureLayout();
    const int w = imageRect_.width(), h = imageRect_.height();
    if (w <= 0 || h <= 0 || zoom_.w <= 0 || zoom_.h <= 0 || imageWidth_ <= 0 || imageHeight_ <= 0)
        return false;
    const double fx = std::trunc(double(zoom_.w) / w * (p.x() - imageRect_.left));
    const double fy = std::trunc(double(zoom_.h) / h * (p.y() - imageRect_.top));
    x = static_cast<int>(std::clamp(zoom_.x + fx, 0.0, double(imageWidth_ - 1)));
    y = static_cast<int>(std::clamp(zoom_.y + zoom_.h - 1 - fy, 0.0, double(imageHeight_ - 1)));
    return true;
}

bool CPicture::pixelToClient(int x, int y, QPoint& point) const
{
    if (zoom_.w <= 0 || zoom_.h <= 0)
        return false;
    const double px = imageRect_.left + double(x - zoom_.x) * imageRect_.width() / zoom_.w;
    const double py = imageRect_.top + double(zoom_.y + zoom_.h - 1 - y) * imageRect_.height() / zoom_.h;
    point = QPoint(static_cast<int>(std::clamp(px, -1e6, 1e6)), static_cast<int>(std::clamp(py, -1e6, 1e6)));
    return true;
}

// The client rectangle that a pixel rectangle covers on screen.
bool CPicture::selectionBox(const PixelRect& r, QRect& out) const
{
    if (zoom_.w <= 0 || zoom_.h <= 0 || r.w <= 0 || r.h <= 0)
        return false;
    const double sx = double(imageRect_.width()) / zoom_.w, sy = double(imageRect_.height()) / zoom_.h;
    auto clampPx = [](double v) { return static_cast<int>(std::clamp(v, -1e6, 1e6)); };
    const int left = clampPx(imageRect_.left + (r.x - zoom_.x) * sx);
    const int right = clampPx(imageRect_.left + (r.x + r.w - zoom_.x) * sx);
    const int top = clampPx(imageRect_.top + (zoom_.y + zoom_.h - r.y - r.h) * sy);
    const int bottom = clampPx(imageRect_.top + (zoom_.y + zoom_.h - r.y) * sy);
    out = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    return true;
}

// ---- painting ----

void CPicture::paintEvent(QPaintEvent*)
{
    ensureLayout();
    QPainter p(this);
    paintAll(p, true);
}

void CPicture::paintAll(QPainter& p, bool interactive)
{
    p.setFont(font());
    p.setBackgroundMode(Qt::TransparentMode);
    const QRect client(clientRect_.left, clientRect_.top, clientRect_.width(), clientRect_.height());
    const QColor face = exportStyle_ ? QColor(Qt::white) : palette().color(QPalette::Button);
    const QRect target(imageRect_.left, imageRect_.top, imageRect_.width(), imageRect_.height());
    const bool drawImage = !image_.isNull() && !target.isEmpty() && zoom_.w > 0 && zoom_.h > 0;
    if (drawImage) { // the face around the image only: the image covers the rest
        p.fillRect(QRect(client.left(), client.top(), client.width(), target.top() - client.top()), face);
        p.fillRect(QRect(client.left(), target.bottom() + 1, client.width(), client.bottom() - target.bottom()), face);
        p.fillRect(QRect(client.left(), target.top(), target.left() - client.left(), target.height()), face);
        p.fillRect(QRect(target.right() + 1, target.top(), client.right() - target.right(), target.height()), face);
    } else {
        p.fillRect(client, face);
    }

    if (drawImage) {
        // Row 0 of the image is at the bottom; the pixels are stored top row first.
        const QRect source(zoom_.x, imageHeight_ - zoom_.y - zoom_.h, zoom_.w, zoom_.h);
        p.setRenderHint(QPainter::SmoothPixmapTransform, interpolate_);
        p.drawImage(target, image_, source);
    }

    if (drawBorder_ && frameRect_.width() > 1 && frameRect_.height() > 1) {
        const int l = frameRect_.left, t = frameRect_.top, r = frameRect_.right - 1, b = frameRect_.bottom - 1;
        const QColor dark = exportStyle_ ? QColor(Qt::black) : palette().color(QPalette::Dark);
        const QColor light = exportStyle_ ? QColor(Qt::black) : palette().color(QPalette::Light);
        p.setPen(dark);
        p.drawLine(l, t, r, t);
        p.drawLine(l, t, l, b);
        p.setPen(light);
        p.drawLine(l, b, r, b);
        p.drawLine(r, t, r, b);
    }
    if (showLabels_)
        paintLabels(p);
    if (showColorBar_)
        paintColorBar(p);
    if (showGrid_)
        paintGrid(p);

    // The selection, else the rubber band, inverting what is under it (interactive marks only).
    if (interactive) {
        QRect box;
        bool draw = false;
        if (selectionShown_)
            draw = selectionBox(selection_, box);
        else if (dragging_ && dragStart_ != dragEnd_) {
            box = QRect(dragStart_, dragEnd_).normalized();
            draw = true;
        }
        if (draw) {
            p.save();
            p.setCompositionMode(QPainter::RasterOp_NotDestination);
            p.setPen(QPen(Qt::white, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(box);
            p.restore();
        }
    }
}

void CPicture::paintLabels(QPainter& p)
{
    const int L = frameRect_.left, T = frameRect_.top, R = frameRect_.right, B = frameRect_.bottom;
    const int big = 1 << 16;
    p.setPen(exportStyle_ ? QColor(Qt::black) : palette().color(QPalette::WindowText));
    // Each text is placed by the corner or edge the layout names; the rectangles only carry the alignment.
    p.drawText(QRect(L, B + 1, big, charHeight_), Qt::AlignLeft | Qt::AlignTop, labels_[0]);
    p.drawText(QRect(R - big, B + 1, big, charHeight_), Qt::AlignRight | Qt::AlignTop, labels_[1]);
    p.drawText(QRect(L - 2 - big, T, big, charHeight_), Qt::AlignRight | Qt::AlignTop, labels_[3]);
    p.drawText(QRect(L - 2 - big, B - charHeight_, big, charHeight_), Qt::AlignRight | Qt::AlignBottom, labels_[2]);
    p.drawText(QRect((L + R) / 2 - big / 2, B + 1, big, charHeight_), Qt::AlignHCenter | Qt::AlignTop, labels_[4]);
    const QFontMetrics fm(p.font());
    p.drawText(L - 4 - fm.horizontalAdvance(labels_[5]), (T + B) / 2, labels_[5]);
}

void CPicture::paintColorBar(QPainter& p)
{
    const Box& bar = colorBarRect_;
    if (bar.width() <= 0 || bar.height() <= 0)
        return;
    const QRect barRect(bar.left, bar.top, bar.width(), bar.height());
    if (palette_ && palette_->colorCount() > 0) {
        QImage row(palette_->bgr(), palette_->colorCount(), 1, 3 * ColorPalette::kEntries, QImage::Format_BGR888);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(barRect, row);
    } else {
        p.fillRect(barRect, Qt::black);
    }
    const QColor ink = exportStyle_ ? QColor(Qt::black) : palette().color(QPalette::WindowText);
    p.setPen(ink);
    const int base = bar.bottom;
    p.drawLine(bar.left, base, bar.right - 1, base);
    const int big = 1 << 16;
    for (int k = 0; k <= 4; ++k) {
        const int x = k == 4 ? bar.right - 1 : bar.left + bar.width() * k / 4;
        p.drawLine(x, base, x, base + 3);
        const QString text = levelText(levelMin_ + k * (levelMax_ - levelMin_) / 4);
        const int top = base + 4;
        if (k == 0)
            p.drawText(QRect(x, top, big, charHeight_), Qt::AlignLeft | Qt::AlignTop, text);
        else if (k == 4)
            p.drawText(QRect(x - big + 1, top, big, charHeight_), Qt::AlignRight | Qt::AlignTop, text);
        else
            p.drawText(QRect(x - big / 2, top, big, charHeight_), Qt::AlignHCenter | Qt::AlignTop, text);
    }
}

void CPicture::paintGrid(QPainter& p)
{
    if (zoom_.w <= 0 || zoom_.h <= 0 || imageRect_.width() <= 0 || imageRect_.height() <= 0)
        return;
    const double sx = double(imageRect_.width()) / zoom_.w, sy = double(imageRect_.height()) / zoom_.h;
    p.setPen(QPen(Qt::black, 1));
    if (sx >= 2)
        for (int i = 1; i < zoom_.w; ++i) {
            const int x = imageRect_.left + static_cast<int>(i * sx);
            p.drawLine(x, imageRect_.top, x, imageRect_.bottom - 1);
        }
    if (sy >= 2)
        for (int i = 1; i < zoom_.h; ++i) {
            const int y = imageRect_.top + static_cast<int>(i * sy);
            p.drawLine(imageRect_.left, y, imageRect_.right - 1, y);
        }
}

// ---- mouse ----

PixelRect CPicture::dragRect() const
{
    int x0, y0, x1, y1;
    if (!clientToPixel(dragStart_, x0, y0) || !clientToPixel(dragEnd_, x1, y1))
        return {};
    return {std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0) + 1, std::abs(y1 - y0) + 1};
}

void CPicture::mousePressEvent(QMouseEvent* event)
{
    ensureLayout();
    const QPoint pos = event->position().toPoint();
    if (!frameRect_.contains(pos))
        return;
    if (event->button() == Qt::LeftButton && !image_.isNull()) {
        if (selectionShown_) { // no longer shown; the rectangle stays as it was
            selectionShown_ = false;
            update();
            emit selectionChanged(true, selection_);
        }
        if (dragEnabled_) {
            dragging_ = true;
            dragStart_ = dragEnd_ = pos;
        }
    } else if (event->button() == Qt::RightButton) {
        int x, y;
        if (clientToPixel(pos, x, y))
            emit contextMenuRequested(pos, x, y);
    }
}

void CPicture::mouseMoveEvent(QMouseEvent* event)
{
    ensureLayout();
    const QPoint pos = event->position().toPoint();
    if (dragging_) {
        dragEnd_ = pos;
        update();
    }
    int x, y;
    if (frameRect_.contains(pos) && clientToPixel(pos, x, y))
        emit pixelHovered(x, y);
}

void CPicture::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    dragEnd_ = event->position().toPoint();
    update();
    if (dragEnd_ == dragStart_)
        return;
    const PixelRect r = dragRect();
    if (r.w <= 0 || r.h <= 0)
        return; // no room for the image: no pixel, no signal
    if (event->modifiers() & Qt::ControlModifier) {
        selection_ = r;
        selectionShown_ = true;
        emit selectionChanged(true, selection_);
    } else {
        zoom_ = r;
        if (!noRepaintOnZoom_)
            repaint();
        emit zoomChanged(true, zoom_);
    }
}

void CPicture::mouseDoubleClickEvent(QMouseEvent* event)
{
    ensureLayout();
    if (event->button() != Qt::LeftButton || !frameRect_.contains(event->position().toPoint()))
        return;
    dragging_ = false;
    zoom_ = {0, 0, imageWidth_, imageHeight_};
    if (!noRepaintOnZoom_)
        repaint();
    emit zoomChanged(false, zoom_);
}

void CPicture::resizeEvent(QResizeEvent*)
{
    calcLayout(rect());
    update();
}

void CPicture::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        readFontMetrics();
        calcLayout(rect());
        update();
    }
    QWidget::changeEvent(event);
}

// ---- export ----

bool CPicture::exportSize(int sizeMode, int width, int height, QSize& size)
{
    const int b = borderWidth_;
    QSize want;
    switch (sizeMode) {
    case 0:
        want = QSize(zoom_.w, zoom_.h);
        break;
    case 1:
        if (screenImageSize_.isValid()) { // an export: measured with the screen's labels, bar and border
            want = screenImageSize_;
        } else {
            calcLayout(rect()); // the image area on screen
            want = QSize(imageRect_.width(), imageRect_.height());
        }
        break;
    case 2:
        want = QSize(width, height);
        break;
    case 3:
        if (width <= 2 * b || height <= 2 * b || width > kMaxExportSide || height > kMaxExportSide)
            return false;
        size = QSize(width, height);
        calcLayout(QRect(0, 0, width - 2 * b, height - 2 * b));
        return imageRect_.width() > 0 && imageRect_.height() > 0;
    default:
        return false;
    }
    if (want.width() <= 0 || want.height() <= 0 || want.width() > kMaxExportSide || want.height() > kMaxExportSide)
        return false;
    // Lay out a 100 x 100 picture, then widen it by what the image area lacks.
    calcLayout(QRect(0, 0, 100, 100));
    const int w = 100 + want.width() - imageRect_.width(), h = 100 + want.height() - imageRect_.height();
    if (w <= 0 || h <= 0)
        return false;
    calcLayout(QRect(0, 0, w, h));
    size = QSize(w + 2 * b, h + 2 * b);
    return size.width() <= kMaxExportSide && size.height() <= kMaxExportSide && imageRect_.width() > 0 &&
           imageRect_.height() > 0;
}

template <typename Paint>
int CPicture::exportTo(int sizeMode, int width, int height, int flags, Paint paint)
{
    const bool labels = showLabels_, bar = showColorBar_, border = drawBorder_;
    const int borderWidth = borderWidth_;
    screenImageSize_ = imageArea().size(); // before the export's flags change the layout

    showLabels_ = flags & ExportLabels;
    showColorBar_ = flags & ExportColorBar;
    drawBorder_ = flags & ExportBorder;
    exportStyle_ = true;
    borderWidth_ = 8;
    QSize size;
    const int result = exportSize(sizeMode, width, height, size) ? paint(size) : -2;
    showLabels_ = labels;
    showColorBar_ = bar;
    drawBorder_ = border;
    borderWidth_ = borderWidth;
    exportStyle_ = false;
    screenImageSize_ = QSize();
    calcLayout(rect());
    return result;
}

int CPicture::saveBitmap(const char* path, int width, int height, int sizeMode, int flags)
{
    return exportTo(sizeMode, width, height, flags, [&](const QSize& size) {
        CMemDC dc(nullptr, QRect(QPoint(0, 0), size));
        if (!dc.isActive())
            return -1;
        paintAll(dc, false);
        dc.end();
        return saveBitmapFile(path, dc.image());
    });
}

int CPicture::saveEmf(const char* path, int width, int height, int sizeMode, int flags)
{
    return exportTo(sizeMode, width, height, flags, [&](const QSize& size) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(QStringLiteral("Frame picture"));
        svg.setDescription(QStringLiteral("Frame picture exported by Ombrel"));
        QPainter p;
        if (!p.begin(&svg))
            return -1;
        paintAll(p, false);
        p.end();
        return plat::replaceFile(path ? path : "", bytes.constData(), static_cast<size_t>(bytes.size())) == 0 ? 0 : -1;
    });
}

void CPicture::showMessage(const std::string& text)
{
    messageBox(this, QString::fromStdString(text), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
}
