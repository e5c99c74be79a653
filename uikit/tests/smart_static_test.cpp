// The coloured static paints its background only when it is opaque, and reports clicks.
#include "smart_static.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>

namespace {

QColor renderedBackground(CSmartStatic& label)
{
    QImage image(label.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren); // no window background of its own
    return image.pixelColor(2, 2);
}

TEST(SmartStaticTest, PaintsBackgroundOnlyWhenOpaque)
{
    CSmartStatic label;
    label.resize(40, 20);
    EXPECT_EQ(label.bkMode(), CSmartStatic::BK_TRANSPARENT);
    EXPECT_EQ(label.textColor(), QColor(Qt::black));
    EXPECT_EQ(label.bkColor(), label.palette().color(QPalette::Button));

    label.setBkColor(Qt::green);
    EXPECT_EQ(renderedBackground(label), QColor(Qt::magenta)) << "transparent paints no background";
    label.setBkMode(CSmartStatic::BK_OPAQUE);
    EXPECT_EQ(renderedBackground(label), QColor(Qt::green));
}

TEST(SmartStaticTest, TextColourGoesToThePalette)
{
    CSmartStatic label(QStringLiteral("text"));
    label.setTextColor(Qt::blue);
    EXPECT_EQ(label.textColor(), QColor(Qt::blue));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(Qt::blue));
}

TEST(SmartStaticTest, ReportsLeftClicksInside)
{
    CSmartStatic label;
    label.resize(40, 20);
    int clicks = 0;
    QObject::connect(&label, &CSmartStatic::clicked, [&clicks] { ++clicks; });
    struct Case {
        Qt::MouseButton button;
        QPointF at;
        int clicks;
    } cases[] = {{Qt::LeftButton, {5, 5}, 1}, {Qt::RightButton, {5, 5}, 0}, {Qt::LeftButton, {50, 5}, 0}};
    for (const Case& c : cases) {
        clicks = 0;
        QMouseEvent release(QEvent::MouseButtonRelease, c.at, c.at, c.button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&label, &release);
        EXPECT_EQ(clicks, c.clicks);
    }
}

} // namespace
