// What the frame display model needs of the control that shows its image. The model renders BGR rows
// top-down, each row padded to a multiple of 4 bytes, into a buffer that it shares with the control: the
// control keeps its reference for as long as it draws from it, so neither side frees what the other reads.
// No windows here: the picture control implements it, tests and benchmarks stub it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ColorPalette;

// A rectangle of frame pixels, row 0 at the bottom.
struct PixelRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool operator==(const PixelRect&) const = default;
};

class PictureView {
public:
    virtual ~PictureView() = default;

    // Size and pixels of the image (bits null: no image). resetZoom: the zoom becomes the whole image and
    // the selection is cleared.
    virtual void setImage(int width, int height, std::shared_ptr<const uint8_t[]> bits, int stride,
                          bool resetZoom) = 0;
    // Colour map of the colour bar; null: none. The palette belongs to the model.
    virtual void setColorPalette(const ColorPalette* palette) = 0;
    // The level range the colour bar shows (max + 1 when max equals min).
    virtual void setLevels(double min, double max) = 0;
    // The pixels changed: show them now.
    virtual void repaintNow() = 0;

    // Zoom and selection in image pixels, for the model to turn them with the image.
    virtual PixelRect zoom() const = 0;
    virtual PixelRect selection() const = 0;
    // Puts the turned rectangles back; no notification (the user did not change them).
    virtual void setZoomAndSelection(const PixelRect& zoom, const PixelRect& selection) = 0;

    // Exports (sizeMode and flags as the picture defines them): 0, -1 when writing failed, -2 for a size
    // or format that cannot be written. saveEmf writes the vector form (SVG).
    virtual int saveEmf(const char* path, int width, int height, int sizeMode, int flags) = 0;
    virtual int saveBitmap(const char* path, int width, int height, int sizeMode, int flags) = 0;

    // A message box for the user (the model's failure texts).
    virtual void showMessage(const std::string& text) = 0;
};
