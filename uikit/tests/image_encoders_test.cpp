// The image format chosen by a path's extension: the substring rule, and the extensions that must
// match nothing.
#include "image_encoders.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(ImageEncodersTest, ExtensionPicksTheFirstFormatHoldingIt)
{
    const struct {
        const char* extension;
        const char* format; // null: none
    } cases[] = {
        {"png", "PNG"}, {"PNG", "PNG"}, {"bmp", "BMP"}, {"dib", "BMP"}, {"rle", "BMP"},
        {"jpg", "JPEG"}, {"jfif", "JPEG"}, {"jp", "JPEG"}, {"gif", "GIF"}, {"tif", "TIFF"},
        {"TIFF", "TIFF"}, {"xyz", nullptr}, {"emf", nullptr}, {"svg", nullptr}, {"txt", nullptr},
        {"", nullptr}, {"*", nullptr}, {";", nullptr}, {"PNG;", nullptr}, {nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension ? c.extension : "(null)");
        const int index = findImageEncoder(c.extension);
        if (!c.format) {
            EXPECT_EQ(index, -1);
            continue;
        }
        ASSERT_GE(index, 0);
        EXPECT_STREQ(imageEncoderAt(index)->name, c.format);
    }
}

TEST(ImageEncodersTest, PathHasAnEncoderOnlyThroughItsFileName)
{
    const std::string longFolder = "/" + std::string(300, 'd') + "/";
    const struct {
        std::string path;
        int expected;
    } cases[] = {
        {"plot.png", 0},
        {"/data.png/plot", -1}, // the dot is in a folder name
        {"file.", -1},
        {"file.*", -1},
        {"noext", -1},
        {longFolder + "plot.tif", 0}, // no path is cut short
        {longFolder + "plot", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        EXPECT_EQ(hasImageEncoder(c.path.c_str()), c.expected);
    }
    EXPECT_EQ(hasImageEncoder(nullptr), -1);
}

} // namespace
