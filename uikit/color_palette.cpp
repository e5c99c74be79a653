// Colour maps of the frame picture.
#include "color_palette.h"

namespace {

void put(uint8_t* bgr, int i, int b, int g, int r)
{
    bgr[3 * i] = static_cast<uint8_t>(b);
    bgr[3 * i + 1] = static_cast<uint8_t>(g);
    bgr[3 * i + 2] = static_cast<uint8_t>(r);
}

} // namespace

ColorPalette::ColorPalette(int type)
{
    put(bgr_.data(), kUnderIndex, 0, 255, 0);
    put(bgr_.data(), kOverIndex, 0, 0, 255);
    put(bgr_.data(), kMaskedIndex, 255, 0, 0);
    setType(type);
}

int ColorPalette::setType(int type)
{
    uint8_t* p = bgr_.data();
    switch (type) {
    case Gray:
        for (int i = 0; i < 256; ++i)
            put(p, i, i, i, i);
        colorCount_ = 256;
        break;
    case Jet:
        // The first band is dark blue 130..137 in steps of one every four entries, as the map was drawn.
        for (int i = 0; i < 32; ++i)
            put(p, i, 130 + i / 4, 0, 0);
        for (int i = 0; i < 64; ++i)
            put(p, 32 + i, 255, 4 * i, 0);
        for (int i = 0; i < 64; ++i)
            put(p, 96 + i, 255 - 4 * i, 255, 4 * i);
        for (int i = 0; i < 64; ++i)
            put(p, 160 + i, 0, 255 - 4 * i, 255);
        for (int i = 0; i < 32; ++i)
            put(p, 224 + i, 0, 0, 255 - 4 * i);
        colorCount_ = 256;
        break;
    case Hot:
        for (int i = 0; i < 256; ++i) {
            put(p, i, 0, 0, i);
            put(p, 256 + i, 0, i, 255);
            put(p, 512 + i, i, 255, 255);
        }
        colorCount_ = 768;
        break;
    case Cool:
        for (int i = 0; i < 256; ++i)
            put(p, i, 255, 255 - i, i);
        colorCount_ = 256;
        break;
    default:
        return -1;
    }
    for (int i = colorCount_; i < kUnderIndex; ++i)
        put(p, i, 0, 0, 0);
    type_ = type;
    return 0;
}
