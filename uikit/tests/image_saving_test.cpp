// Image files as the formats define them, the GIF colours kept exactly, the refusals, and the save
// dialog's remembered choice.
#include "image_saving.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"

#include <QImage>

namespace {

std::string scratch(const std::string& name)
{
    static const std::string dir = ombrel_test::scratchDir("uikit-images");
    return dir + "/" + name;
}

std::string head(const std::string& path, size_t n)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(n, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

QImage sample(int colours)
{
    QImage image(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const int i = (y * 40 + x) % colours;
            image.setPixelColor(x, y, QColor(i % 256, (i * 7) % 256, i / 256 * 40));
        }
    return image;
}

TEST(ImageSavingTest, EachFormatWritesItsOwnKindOfFile)
{
    const struct {
        const char* name;
        std::vector<std::string> magic; // any of them
    } cases[] = {
        {"a.png", {"\x89PNG"}},
        {"a.JPG", {"\xFF\xD8\xFF"}},
        {"a.bmp", {"BM"}},
        {"a.tif", {std::string("II*\0", 4), std::string("MM\0*", 4)}},
        {"a.tiff", {std::string("II*\0", 4), std::string("MM\0*", 4)}},
        {"a.gif", {"GIF8"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch(c.name);
        ASSERT_EQ(saveBitmapFile(path.c_str(), sample(50)), 0);
        bool found = false;
        for (const std::string& m : c.magic)
            found = found || head(path, m.size()) == m;
        EXPECT_TRUE(found);
        EXPECT_FALSE(QImage(QString::fromStdString(path)).isNull());
    }
}

TEST(ImageSavingTest, GifKeepsUpTo256ColoursExactly)
{
    for (int colours : {2, 256, 1000}) {
        SCOPED_TRACE(colours);
        const std::string path = scratch("colours.gif");
        const QImage image = sample(colours);
        ASSERT_EQ(saveBitmapFile(path.c_str(), image), 0);
        const QImage back(QString::fromStdString(path));
        ASSERT_EQ(back.size(), image.size());
        for (int y = 0; colours <= 256 && y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_EQ(back.pixel(x, y) & 0xFFFFFF, image.pixel(x, y) & 0xFFFFFF) << x << "," << y;
    }
}

TEST(ImageSavingTest, RefusalsAndFailuresKeepTheOldFile)
{
    const std::string old = scratch("kept.png");
    ASSERT_EQ(saveBitmapFile(old.c_str(), sample(3)), 0);
    const std::string before = head(old, 1 << 20);
    const struct {
        std::string path;
        QImage image;
        int expected;
    } cases[] = {
        {scratch("file."), sample(3), -2},
        {scratch("a.emf"), sample(3), -2},
        {scratch("a.txt"), sample(3), -2},
        {scratch("noext"), sample(3), -2},
        {old + "/under.png", sample(3), -1}, // a folder that is a regular file (root may write anywhere else)
        {old, QImage(), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(saveBitmapFile(c.path.c_str(), c.image), c.expected);
    }
    EXPECT_EQ(head(old, 1 << 20), before);
    EXPECT_FALSE(std::filesystem::exists(scratch("a.emf")));
    EXPECT_EQ(saveBitmapFile(nullptr, sample(3)), -2);
}

TEST(ImageSavingTest, SaveDialogOpensWithTheFormatChosenLast)
{
    std::vector<SaveDialogRequest> asked;
    int answer = 5;
    bool confirm = true;
    const SaveDialogHandler previous = setSaveDialogHandler([&](const SaveDialogRequest& r, QString& path, int& chosen) {
        asked.push_back(r);
        path = QStringLiteral("/tmp/x.gif");
        chosen = answer;
        return confirm;
    });
    QString path;
    ASSERT_EQ(getSaveImagePath(nullptr, path), 0);
    EXPECT_EQ(path, QStringLiteral("/tmp/x.gif"));
    ASSERT_EQ(getSaveImagePath(nullptr, path), 0);
    confirm = false;
    answer = 1;
    EXPECT_EQ(getSaveImagePath(nullptr, path), 1);
    confirm = true;
    ASSERT_EQ(getSaveImagePath(nullptr, path), 0);
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[0].filters.size(), 8);
    EXPECT_EQ(asked[0].filters[1], QStringLiteral("SVG Scalable Vector Graphics (*.svg)"));
    EXPECT_EQ(asked[0].filters[3], QStringLiteral("TIFF Tagged Image File Format (*.tif *.tiff)"));
    const struct {
        int selected;
        const char* suffix;
        const char* name;
    } expected[] = {{1, "png", "*.png"}, {5, "gif", "*.gif"}, {5, "gif", "*.gif"}, {5, "gif", "*.gif"}};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(asked[i].selected, expected[i].selected);
        EXPECT_EQ(asked[i].defaultSuffix, QString::fromLatin1(expected[i].suffix));
        EXPECT_EQ(asked[i].defaultName, QString::fromLatin1(expected[i].name));
    }

    // The frame-data dialog: the form chosen gives the frame-file flags.
    const uint32_t flags[] = {2, 0x2002, 0x1002, 1, 0x2001, 0x1001, 2};
    for (int form = 1; form <= 7; ++form) {
        answer = form;
        uint32_t got = 0;
        ASSERT_EQ(getSaveDataPath(nullptr, path, got), 0);
        EXPECT_EQ(got, flags[form - 1]) << "form " << form;
    }
    setSaveDialogHandler(previous);
}

} // namespace
