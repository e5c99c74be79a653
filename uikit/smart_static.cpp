// Coloured static.
#include "smart_static.h"

#include <QMouseEvent>
#include <QPainter>

CSmartStatic::CSmartStatic(QWidget* parent) : QLabel(parent)
{
    init();
}

CSmartStatic::CSmartStatic(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    init();
}

void CSmartStatic::init()
{
    bkColor_ = palette().color(QPalette::Button);
    setAutoFillBackground(false); // the background is painted here, or not at all
    setTextColor(textColor_);
}

void CSmartStatic::setBkMode(int mode)
{
    bkMode_ = mode;
    update();
}

void CSmartStatic::setBkColor(const QColor& color)
{
    bkColor_ = color;
    update();
}

void CSmartStatic::setTextColor(const QColor& color)
{
    textColor_ = color;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    setPalette(pal);
}

void CSmartStatic::paintEvent(QPaintEvent* event)
{
    if (bkMode_ != BK_TRANSPARENT) {
        QPainter painter(this);
        painter.fillRect(rect(), bkColor_);
    }
    QLabel::paintEvent(event);
}

void CSmartStatic::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}
