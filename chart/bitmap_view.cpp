#include "bitmap_view.h"

#include <cstring>
#include <vector>

#include <QPainter>

#include "chart_image.h"

CBitmapView::CBitmapView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

template <typename T>
bool CBitmapView::show(const T* data, unsigned width, unsigned height, double min, double max, bool colorOutOfRange)
{
    std::vector<uint32_t> pixels;
    if (!chartImagePixels(data, width, height, min, max, pixels, colorOutOfRange))
        return false;
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (image.isNull())
        return false;
    for (unsigned row = 0; row < height; ++row)
        std::memcpy(image.scanLine(static_cast<int>(row)), pixels.data() + size_t{row} * width, size_t{width} * 4);
    image_ = std::move(image);
    width_ = width;
    height_ = height;
    update();
    return true;
}

bool CBitmapView::setImage(const uint8_t* data, unsigned width, unsigned height, double min, double max)
{
    return show(data, width, height, min, max, true);
}

bool CBitmapView::setImage(const uint16_t* data, unsigned width, unsigned height, double min, double max)
{
    return show(data, width, height, min, max, true);
}

bool CBitmapView::setImage(const uint32_t* data, unsigned width, unsigned height, double min, double max)
{
    return show(data, width, height, min, max, true);
}

bool CBitmapView::setImage(const double* data, unsigned width, unsigned height, double min, double max,
                           bool colorOutOfRange)
{
    return show(data, width, height, min, max, colorOutOfRange);
}

void CBitmapView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (stretch) {
        if (image_.isNull())
            painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
        else
            painter.drawImage(rect(), image_);
        return;
    }
    painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
    if (!image_.isNull())
        painter.drawImage((width() - image_.width()) / 2, (height() - image_.height()) / 2, image_);
}
