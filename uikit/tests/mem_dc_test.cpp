// Off-screen drawing: the stack context lands at its rectangle's corner in one step; the plain one
// copies nothing.
#include "mem_dc.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

QImage whiteTarget()
{
    QImage target(100, 100, QImage::Format_RGB32);
    target.fill(Qt::white);
    return target;
}

TEST(MemDcTest, StackContextAppearsAtItsRectangleOnlyWhenItEnds)
{
    QImage target = whiteTarget();
    QPainter painter(&target);
    {
        CStackMemDC dc(&painter, QRect(10, 20, 30, 40));
        ASSERT_TRUE(dc.isActive());
        dc.fillRect(QRect(0, 0, 30, 40), Qt::red);
        dc.fillRect(QRect(0, 0, 1, 1), Qt::blue);
        EXPECT_EQ(target.pixelColor(10, 20), QColor(Qt::white)) << "nothing shows before the copy";
    }
    painter.end();
    struct Case {
        int x, y;
        QColor color;
    } cases[] = {{10, 20, Qt::blue}, {11, 21, Qt::red},  {39, 59, Qt::red},
                 {9, 20, Qt::white}, {10, 19, Qt::white}, {40, 59, Qt::white}, {39, 60, Qt::white}};
    for (const Case& c : cases)
        EXPECT_EQ(target.pixelColor(c.x, c.y), c.color) << c.x << "," << c.y;
}

TEST(MemDcTest, PlainContextCopiesNothing)
{
    QImage target = whiteTarget();
    {
        CMemDC dc(&target, QRect(5, 5, 20, 10));
        ASSERT_TRUE(dc.isActive());
        EXPECT_EQ(dc.image().size(), QSize(20, 10));
        EXPECT_EQ(dc.image().pixelColor(3, 3), QColor(Qt::black));
        dc.fillRect(QRect(0, 0, 20, 10), Qt::red);
        dc.end();
        EXPECT_EQ(dc.image().pixelColor(19, 9), QColor(Qt::red));
    }
    EXPECT_EQ(target.pixelColor(5, 5), QColor(Qt::white));
}

TEST(MemDcTest, SurfaceFollowsTheReferencePixelRatio)
{
    QImage reference(10, 10, QImage::Format_RGB32);
    reference.setDevicePixelRatio(2);
    CMemDC dc(&reference, QRect(0, 0, 30, 20));
    EXPECT_EQ(dc.image().size(), QSize(60, 40));
    CMemDC plain(nullptr, QRect(0, 0, 30, 20));
    EXPECT_EQ(plain.image().size(), QSize(30, 20));
}

TEST(MemDcTest, EmptyRectangleDrawsNothingAnywhere)
{
    QImage target = whiteTarget();
    QPainter painter(&target);
    for (QRect r : {QRect(10, 10, 0, 5), QRect(10, 10, 5, 0), QRect(QPoint(20, 20), QPoint(10, 10))}) {
        CStackMemDC dc(&painter, r);
        EXPECT_FALSE(dc.isActive());
        EXPECT_TRUE(dc.image().isNull());
    }
    {
        CStackMemDC orphan(nullptr, QRect(0, 0, 10, 10));
        orphan.fillRect(QRect(0, 0, 10, 10), Qt::red);
    }
    painter.end();
    EXPECT_EQ(target.pixelColor(10, 10), QColor(Qt::white));
    EXPECT_EQ(target.pixelColor(0, 0), QColor(Qt::white));
}

} // namespace
