// Colour maps: the table entries the pictures are drawn with and the fixed out-of-range colours.
#include "color_palette.h"

#include <gtest/gtest.h>

namespace {

struct Bgr {
    int b, g, r;
};

TEST(ColorPaletteTest, MapEntriesAndFixedColours)
{
    const struct {
        int type;
        int index;
        Bgr expected;
    } cases[] = {
        {ColorPalette::Gray, 0, {0, 0, 0}},     {ColorPalette::Gray, 200, {200, 200, 200}},
        {ColorPalette::Jet, 0, {130, 0, 0}},    {ColorPalette::Jet, 31, {137, 0, 0}},
        {ColorPalette::Jet, 32, {255, 0, 0}},   {ColorPalette::Jet, 96, {255, 255, 0}},
        {ColorPalette::Jet, 159, {3, 255, 252}}, {ColorPalette::Jet, 223, {0, 3, 255}},
        {ColorPalette::Jet, 255, {0, 0, 131}},  {ColorPalette::Hot, 255, {0, 0, 255}},
        {ColorPalette::Hot, 256, {0, 0, 255}},  {ColorPalette::Hot, 511, {0, 255, 255}},
        {ColorPalette::Hot, 767, {255, 255, 255}}, {ColorPalette::Cool, 0, {255, 255, 0}},
        {ColorPalette::Cool, 255, {255, 0, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " entry " << c.index);
        ColorPalette palette(c.type);
        const uint8_t* e = palette.entry(c.index);
        EXPECT_EQ(e[0], c.expected.b);
        EXPECT_EQ(e[1], c.expected.g);
        EXPECT_EQ(e[2], c.expected.r);
        EXPECT_EQ(palette.colorCount(), c.type == ColorPalette::Hot ? 768 : 256);
        // Under, over and masked stay at 768..770 for every map.
        const Bgr fixed[] = {{0, 255, 0}, {0, 0, 255}, {255, 0, 0}};
        for (int i = 0; i < 3; ++i) {
            const uint8_t* f = palette.entry(ColorPalette::kUnderIndex + i);
            EXPECT_EQ(f[0], fixed[i].b);
            EXPECT_EQ(f[1], fixed[i].g);
            EXPECT_EQ(f[2], fixed[i].r);
        }
    }
}

TEST(ColorPaletteTest, UnknownTypeIsRefusedAndChangesNothing)
{
    ColorPalette palette(ColorPalette::Hot);
    EXPECT_EQ(palette.setType(4), -1);
    EXPECT_EQ(palette.setType(-1), -1);
    EXPECT_EQ(palette.type(), ColorPalette::Hot);
    EXPECT_EQ(palette.colorCount(), 768);
    // Going back to a 256-entry map leaves no stale Hot entries behind the map.
    EXPECT_EQ(palette.setType(ColorPalette::Gray), 0);
    EXPECT_EQ(palette.entry(600)[0], 0);

    ColorPalette none(7);
    EXPECT_EQ(none.type(), -1);
    EXPECT_EQ(none.colorCount(), 0);
}

} // namespace
