// Off-screen drawing. CMemDC is a painter over an image of a rectangle's size, for drawing that is
// exported or copied by its owner; it copies nothing by itself. CStackMemDC is made on the stack in a
// paint handler over the target painter and a rectangle, drawn into, and copied to the target at the
// rectangle's corner in one step when it goes out of scope. Coordinates are those of the image: (0, 0)
// lands on the rectangle's top left corner.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

class QPaintDevice;

class CMemDC : public QPainter {
public:
    // An image of rect's size, at the device pixel ratio of reference (1 without one, as exports need),
    // cleared to black. An empty rectangle or one too large for memory gives no image: the painter is
    // then not active (isActive() false) and draws nothing.
    CMemDC(const QPaintDevice* reference, const QRect& rect);
    ~CMemDC();

    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    const QRect& rect() const { return rect_; }
    // The drawing so far; end() the painter first for a copy that nothing draws into any more.
    const QImage& image() const { return image_; }

private:
    QImage image_;
    QRect rect_;
};

class CStackMemDC : public CMemDC {
public:
    // target may be null: then the drawing goes nowhere.
    CStackMemDC(QPainter* target, const QRect& rect);
    ~CStackMemDC();

private:
    QPainter* target_;
};
