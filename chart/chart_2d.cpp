#include "chart_2d.h"

#include <QMouseEvent>
#include <QPainter>
#include <QThread>

#include "chart_paint.h"
#include "qt_chart_canvas.h"

CChart2d::CChart2d(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CChart2d::changed()
{
    Q_ASSERT(QThread::currentThread() == thread());
    update();
}

void CChart2d::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QtChartCanvas canvas(painter);
    paintChart(*this, canvas, width(), height());
}

void CChart2d::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton)
        cyclePointStyle();
    QWidget::mouseReleaseEvent(event);
}

void CChart2d::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        toggleDecorations();
    QWidget::mouseDoubleClickEvent(event);
}
