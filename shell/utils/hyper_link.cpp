#include "hyper_link.h"

#include <QDesktopServices>
#include <QMouseEvent>

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
    applyColour();
    adjustSize();
}

void CHyperLink::setLink(const QUrl& link)
{
    link_ = link;
}

QUrl CHyperLink::link() const
{
    return link_.isEmpty() ? QUrl::fromUserInput(text()) : link_;
}

QColor CHyperLink::currentColour() const
{
    if (hover_)
        return kHoverColour;
    return visited_ ? kVisitedColour : kLinkColour;
}

void CHyperLink::applyColour()
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, currentColour());
    setPalette(p);
}

void CHyperLink::enterEvent(QEnterEvent* event)
{
    hover_ = true;
    applyColour();
    QLabel::enterEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event)
{
    hover_ = false;
    applyColour();
    QLabel::leaveEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        if (QDesktopServices::openUrl(link())) {
            visited_ = true;
            applyColour();
        }
    }
    QLabel::mouseReleaseEvent(event);
}
