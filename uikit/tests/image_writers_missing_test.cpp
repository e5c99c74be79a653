// Saving where Qt has no image plug-ins (a folder without them is the only library path, set before any
// image is written): the formats whose writers are plug-ins are refused with -2 and leave no file of
// another kind under their names; the built-in writers and the GIF encoder still write.
#include "image_saving.h"

#include <filesystem>
#include <string>

#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"

TEST(ImageWritersMissingTest, KnownFormatsWithoutTheirWriterAreRefused)
{
    const std::string dir = ombrel_test::scratchDir("uikit-no-writers");
    QCoreApplication::setLibraryPaths({QString::fromStdString(dir)});
    ASSERT_FALSE(QImageWriter::supportedImageFormats().contains("tiff"));
    ASSERT_FALSE(QImageWriter::supportedImageFormats().contains("jpeg"));

    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const struct {
        const char* name;
        int expected;
    } cases[] = {{"a.tif", -2}, {"a.TIFF", -2}, {"a.jpg", -2}, {"a.jfif", -2}, {"a.png", 0}, {"a.bmp", 0}, {"a.gif", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name;
        EXPECT_EQ(saveBitmapFile(path.c_str(), image), c.expected);
        EXPECT_EQ(std::filesystem::exists(path), c.expected == 0);
    }
}
