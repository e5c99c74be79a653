// A value matrix shown as a grey-scale picture: values below the range blue, above it red (see
// chartImagePixels). Stretched over the window, or centred unscaled on grey. GUI thread only.
#pragma once

#include <cstdint>

#include <QImage>
#include <QWidget>

class CBitmapView : public QWidget {
    Q_OBJECT
public:
    explicit CBitmapView(QWidget* parent = nullptr);

    // min >= max: the range of the data. False (the picture unchanged) for null data, a side of 0 or a
    // picture too large.
    bool setImage(const uint8_t* data, unsigned width, unsigned height, double min = 0.0, double max = 0.0);
    bool setImage(const uint16_t* data, unsigned width, unsigned height, double min = 0.0, double max = 0.0);
    bool setImage(const uint32_t* data, unsigned width, unsigned height, double min = 0.0, double max = 0.0);
    // colorOutOfRange off: values below the range black, above it white.
    bool setImage(const double* data, unsigned width, unsigned height, double min = 0.0, double max = 0.0,
                  bool colorOutOfRange = true);

    unsigned imageWidth() const { return width_; }
    unsigned imageHeight() const { return height_; }
    const QImage& image() const { return image_; }
    bool stretch = true;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    template <typename T>
    bool show(const T* data, unsigned width, unsigned height, double min, double max, bool colorOutOfRange);

    unsigned width_ = 0;
    unsigned height_ = 0;
    QImage image_;
};
