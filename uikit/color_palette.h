// Colour maps of the frame picture: 256 entries (768 for Hot) of (blue, green, red) triples, followed at
// fixed places by the under-range, over-range and masked-pixel colours. No windows; any thread, one owner.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class ColorPalette {
public:
    enum Type { Gray = 0, Jet = 1, Hot = 2, Cool = 3 };
    static constexpr int kUnderIndex = 768;  // green
    static constexpr int kOverIndex = 769;   // red
    static constexpr int kMaskedIndex = 770; // blue
    static constexpr int kEntries = 771;

    // A palette of the given map; an unknown type leaves it without a map (type() -1, colorCount() 0)
    // until setType succeeds. The three fixed colours are always there.
    explicit ColorPalette(int type = Gray);

    // Refills the map part: 0, or -1 for an unknown type (the palette is then unchanged).
    int setType(int type);

    int type() const { return type_; }
    int colorCount() const { return colorCount_; }
    // Entry i as (blue, green, red): 0 <= i < kEntries; entries between colorCount() and 767 are black.
    const uint8_t* entry(int i) const { return &bgr_[3 * static_cast<size_t>(i)]; }
    const uint8_t* bgr() const { return bgr_.data(); }

private:
    int colorCount_ = 0;
    int type_ = -1;
    std::array<uint8_t, 3 * kEntries> bgr_{};
};
