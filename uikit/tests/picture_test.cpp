// The picture control as a user meets it, offscreen: dragging zooms (inclusive corners), Ctrl+dragging
// selects, a double click shows everything, the pixel under the mouse counts rows from the bottom, a
// control too small for its image stays silent; and its exports.
#include "picture.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"

#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTest>

#include "color_palette.h"
#include "message_box.h"
#include "picture_data.h"

namespace {

// One frame in a fake manager: enough for the model to show it.
std::map<uint32_t, std::pair<std::pair<uint32_t, uint32_t>, std::vector<double>>> frames;

int getSize(uint32_t id, uint32_t* w, uint32_t* h)
{
    auto it = frames.find(id);
    if (it == frames.end())
        return -200;
    *w = it->second.first.first;
    *h = it->second.first.second;
    return 0;
}

int getData(uint32_t id, void* buffer, uint32_t* size, int)
{
    auto it = frames.find(id);
    if (it == frames.end() || *size < it->second.second.size() * 8)
        return -200;
    std::memcpy(buffer, it->second.second.data(), it->second.second.size() * 8);
    return 0;
}

_MgrFuncTable table()
{
    _MgrFuncTable t{};
    t.mgrGetFrameSize = getSize;
    t.mgrGetFrameData = getData;
    return t;
}

// A frame of width x height whose value is its index (row 0 first), shown through a Gray model.
class PictureTest : public testing::Test {
protected:
    void show(int width, int height)
    {
        std::vector<double> values(static_cast<size_t>(width) * height);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<double>(i);
        frames[1] = {{uint32_t(width), uint32_t(height)}, values};
        model.setPicture(&picture);
        model.setColorMap(ColorPalette::Gray);
        ASSERT_EQ(model.showFrame(1), 0);
        model.setRange(0, static_cast<double>(values.size() - 1), false, false);
    }

    _MgrFuncTable mgr = table();
    PictureData model{&mgr};
    CPicture picture;
};

TEST_F(PictureTest, DragZoomsCtrlDragSelectsDoubleClickShowsAll)
{
    show(10, 10);
    picture.setDrawBorder(false);
    picture.resize(100, 100); // 10 screen pixels a frame pixel
    picture.show();
    QSignalSpy zooms(&picture, &CPicture::zoomChanged);
    QSignalSpy selections(&picture, &CPicture::selectionChanged);

    QTest::mousePress(&picture, Qt::LeftButton, {}, QPoint(15, 5));
    QTest::mouseMove(&picture, QPoint(45, 35));
    QTest::mouseRelease(&picture, Qt::LeftButton, {}, QPoint(45, 35));
    ASSERT_EQ(zooms.count(), 1);
    EXPECT_TRUE(zooms[0][0].toBool());
    EXPECT_EQ(picture.zoom(), (PixelRect{1, 6, 4, 4})) << "both corner pixels included, row 0 at the bottom";

    // Inside the zoom, a Ctrl+drag selects in image pixels.
    QTest::mousePress(&picture, Qt::LeftButton, Qt::ControlModifier, QPoint(1, 1));
    QTest::mouseMove(&picture, QPoint(30, 30));
    QTest::mouseRelease(&picture, Qt::LeftButton, Qt::ControlModifier, QPoint(30, 30));
    ASSERT_EQ(selections.count(), 1);
    EXPECT_TRUE(picture.selectionShown());
    EXPECT_EQ(picture.selection(), (PixelRect{1, 8, 2, 2}));

    // A Ctrl+drag that ends where it started takes the shown one away on the press and makes none: the
    // rectangle stays as it was.
    QTest::mousePress(&picture, Qt::LeftButton, Qt::ControlModifier, QPoint(50, 50));
    QTest::mouseRelease(&picture, Qt::LeftButton, Qt::ControlModifier, QPoint(50, 50));
    EXPECT_EQ(selections.count(), 2);
    EXPECT_FALSE(picture.selectionShown());
    EXPECT_EQ(picture.selection(), (PixelRect{1, 8, 2, 2}));

    QTest::mouseDClick(&picture, Qt::LeftButton, {}, QPoint(50, 50));
    ASSERT_EQ(zooms.count(), 2);
    EXPECT_FALSE(zooms[1][0].toBool());
    EXPECT_EQ(picture.zoom(), (PixelRect{0, 0, 10, 10}));

    picture.clearSelection();
    ASSERT_EQ(selections.count(), 3);
    EXPECT_FALSE(selections[2][0].toBool());
}

TEST_F(PictureTest, HoverAndRightClickNameThePixelWithRowZeroAtTheBottom)
{
    show(4, 2);
    picture.setDrawBorder(false);
    picture.resize(40, 20);
    picture.show();
    QSignalSpy hovers(&picture, &CPicture::pixelHovered);
    QSignalSpy menus(&picture, &CPicture::contextMenuRequested);
    const struct {
        QPoint at;
        int x, y;
    } cases[] = {{{1, 1}, 0, 1}, {{1, 18}, 0, 0}, {{39, 19}, 3, 0}, {{25, 5}, 2, 1}};
    for (const auto& c : cases) {
        hovers.clear();
        QTest::mouseMove(&picture, c.at);
        ASSERT_EQ(hovers.count(), 1) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(hovers[0][0].toInt(), c.x);
        EXPECT_EQ(hovers[0][1].toInt(), c.y);
    }
    QTest::mousePress(&picture, Qt::RightButton, {}, QPoint(25, 5));
    ASSERT_EQ(menus.count(), 1);
    EXPECT_EQ(menus[0][1].toInt(), 2);
    EXPECT_EQ(menus[0][2].toInt(), 1);

    // With labels the image moves right: a right click left of it sends nothing.
    picture.setShowLabels(true);
    QTest::mousePress(&picture, Qt::RightButton, {}, QPoint(1, 1));
    EXPECT_EQ(menus.count(), 1);
}

TEST_F(PictureTest, ControlTooSmallForItsImageStaysSilent)
{
    show(3, 3);
    picture.setShowLabels(true);
    picture.setShowColorBar(true);
    picture.resize(2, 1);
    picture.show();
    QSignalSpy zooms(&picture, &CPicture::zoomChanged);
    QSignalSpy hovers(&picture, &CPicture::pixelHovered);
    QSignalSpy selections(&picture, &CPicture::selectionChanged);
    for (QPoint p : {QPoint(0, 0), QPoint(1, 0)}) {
        QTest::mousePress(&picture, Qt::LeftButton, {}, p);
        QTest::mouseMove(&picture, QPoint(1, 0));
        QTest::mouseRelease(&picture, Qt::LeftButton, Qt::ControlModifier, QPoint(1, 0));
        QTest::mousePress(&picture, Qt::RightButton, {}, p);
    }
    picture.repaint();
    int x = 0, y = 0;
    EXPECT_FALSE(picture.clientToPixel(QPoint(0, 0), x, y));
    EXPECT_EQ(zooms.count() + hovers.count() + selections.count(), 0);
}

QImage grabbed(CPicture& picture)
{
    return picture.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST_F(PictureTest, GridOnlyWhereAFramePixelIsTwoScreenPixelsWide)
{
    show(256, 256);
    model.setRange(0, 0, false, false); // black image: a grid line would not show, so use white
    model.setRange(-2, -1, false, true);
    picture.setDrawBorder(false);
    picture.setShowGrid(true);
    const struct {
        int side;
        bool lines;
    } cases[] = {{512, true}, {400, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        picture.resize(c.side, c.side);
        const QImage image = grabbed(picture);
        int black = 0;
        for (int x = 0; x < c.side; ++x)
            black += image.pixelColor(x, c.side / 2 + 1) == QColor(Qt::black);
        EXPECT_EQ(black > c.side / 4, c.lines) << black << " black pixels on a row";
    }
}

TEST_F(PictureTest, ColourBarOfAnEmptyRangeRunsFromMinToMinPlusOne)
{
    show(2, 2);
    model.setRange(5, 5, false, false);
    EXPECT_EQ(picture.levelMin(), 5);
    EXPECT_EQ(picture.levelMax(), 6);
}

std::string scratch(const std::string& name)
{
    static const std::string dir = ombrel_test::scratchDir("uikit-picture");
    return dir + "/" + name;
}

TEST_F(PictureTest, ExportsHaveTheSizeTheirModeAsksFor)
{
    show(256, 256);
    picture.resize(300, 300);
    const struct {
        int mode, w, h, flags;
        int expected;
        QSize size;
    } cases[] = {
        {0, 0, 0, 0, 0, {272, 272}},
        {1, 0, 0, 0, 0, {314, 314}}, // the 298 x 298 inside the screen's border, whatever the export draws
        {2, 100, 50, 0, 0, {116, 66}},
        {3, 200, 150, 7, 0, {200, 150}},
        {0, 0, 0, 7, 0, {}},
        {2, 0, 50, 0, -2, {}},
        {2, 20000, 50, 0, -2, {}},
        {3, -5, 100, 0, -2, {}},
        {4, 100, 100, 0, -2, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " " << c.w << "x" << c.h);
        const std::string path = scratch("export.png");
        std::filesystem::remove(path);
        ASSERT_EQ(picture.saveBitmap(path.c_str(), c.w, c.h, c.mode, c.flags), c.expected);
        if (c.expected != 0)
            continue;
        const QImage image(QString::fromStdString(path));
        ASSERT_FALSE(image.isNull());
        if (c.size.isValid()) {
            EXPECT_EQ(image.size(), c.size);
        }
        if (c.mode == 0 && c.flags == 0) {
            // Frame pixel (0, 0) at the bottom left inside the 8-pixel margin; pixel (255, 255) top right.
            EXPECT_EQ(image.pixelColor(8, 263), QColor(0, 0, 0));
            EXPECT_EQ(image.pixelColor(263, 8), QColor(255, 255, 255));
            EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));
        }
    }

    // The image area on screen also with labels and a colour bar that the screen does not show.
    const std::string asOnScreen = scratch("screen.png"), asAsked = scratch("asked.png");
    ASSERT_EQ(picture.saveBitmap(asOnScreen.c_str(), 0, 0, 1, 7), 0);
    ASSERT_EQ(picture.saveBitmap(asAsked.c_str(), 298, 298, 2, 7), 0);
    EXPECT_EQ(QImage(QString::fromStdString(asOnScreen)).size(), QImage(QString::fromStdString(asAsked)).size());

    const std::string svg = scratch("export.svg");
    ASSERT_EQ(model.saveImage(svg.c_str(), 0, 0, 0, 7), 0);
    QSvgRenderer renderer(QString::fromStdString(svg));
    EXPECT_TRUE(renderer.isValid());

    // A failed export tells the user and reports the failure.
    std::vector<QString> boxes;
    const MessageBoxHandler previous = setMessageBoxHandler([&](QWidget*, const QString& text, const QString&, unsigned) {
        boxes.push_back(text);
        return int(MSGBOX_IDOK);
    });
    const std::string under = scratch("export.png") + "/under.png";
    EXPECT_EQ(model.saveImage(under.c_str(), 0, 0, 0, 0), -1);
    EXPECT_EQ(model.saveImage(scratch("x.emf").c_str(), 0, 0, 0, 0), -2);
    setMessageBoxHandler(previous);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], QStringLiteral("Saving of image file failed."));
}

} // namespace
