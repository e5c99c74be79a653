// Off-screen drawing.
#include "mem_dc.h"

#include <QPaintDevice>

namespace {

QImage makeSurface(const QPaintDevice* reference, const QRect& rect)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return QImage();
    qreal ratio = reference ? reference->devicePixelRatioF() : 1.0;
    if (!(ratio > 0))
        ratio = 1.0;
    QImage image(rect.size() * ratio, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    return image;
}

} // namespace

CMemDC::CMemDC(const QPaintDevice* reference, const QRect& rect)
    : image_(makeSurface(reference, rect)), rect_(rect)
{
    if (!image_.isNull())
        begin(&image_);
}

CMemDC::~CMemDC()
{
    if (isActive())
        end();
}

CStackMemDC::CStackMemDC(QPainter* target, const QRect& rect)
    : CMemDC(target ? target->device() : nullptr, rect), target_(target)
{
}

CStackMemDC::~CStackMemDC()
{
    if (!isActive())
        return;
    end();
    if (target_ && target_->isActive())
        target_->drawImage(rect().topLeft(), image());
}
