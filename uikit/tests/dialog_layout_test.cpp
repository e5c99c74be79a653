// Anchor-flag layout and splitters of the resizable dialogs, as pure rectangle arithmetic.
#include "dialog_layout.h"

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const LayoutRect& r, std::ostream* os)
{
    *os << "{" << r.left << ", " << r.top << ", " << r.width() << " x " << r.height() << "}";
}

namespace {

LayoutRect xywh(int x, int y, int w, int h)
{
    return LayoutRect::fromSize(x, y, w, h);
}

struct AnchorCase {
    const char* what;
    int flags;
    int dx, dy;
    LayoutRect expected;
};

TEST(AnchorLayoutTest, ControlFollowsDialogGrowthByItsFlags)
{
    const LayoutRect start = xywh(10, 20, 100, 50);
    const AnchorCase cases[] = {
        {"no flags stays", 0, 30, 20, start},
        {"no growth stays", ANCHOR_MOVE_X | ANCHOR_STRETCH_H, 0, 0, start},
        {"move x", ANCHOR_MOVE_X, 30, 20, xywh(40, 20, 100, 50)},
        {"move y", ANCHOR_MOVE_Y, 30, 20, xywh(10, 40, 100, 50)},
        {"log button: move both (10)", 10, -30, 15, xywh(-20, 35, 100, 50)},
        {"log list: stretch both (48)", 48, 30, -20, xywh(10, 20, 130, 30)},
        {"half dx, odd growth", ANCHOR_MOVE_X | ANCHOR_HALF_X, 31, 0, xywh(25, 20, 100, 50)},
        {"half dx toward zero when shrinking", ANCHOR_MOVE_X | ANCHOR_HALF_X, -31, 0, xywh(-5, 20, 100, 50)},
        {"half dy", ANCHOR_MOVE_Y | ANCHOR_HALF_Y, 0, 21, xywh(10, 30, 100, 50)},
        {"no move right blocks growth", ANCHOR_MOVE_X | ANCHOR_NO_RIGHT, 30, 0, start},
        {"no move right lets it go left", ANCHOR_MOVE_X | ANCHOR_NO_RIGHT, -30, 0, xywh(-20, 20, 100, 50)},
        {"no move left blocks shrink", ANCHOR_MOVE_X | ANCHOR_NO_LEFT, -30, 0, start},
        {"no move up blocks shrink", ANCHOR_MOVE_Y | ANCHOR_NO_UP, 0, -10, start},
        {"no move down blocks growth", ANCHOR_MOVE_Y | ANCHOR_NO_DOWN, 0, 10, start},
        {"stretch wins over move in x", ANCHOR_MOVE_X | ANCHOR_STRETCH_W, 30, 0, xywh(10, 20, 130, 50)},
        {"stretch wins over move in y", ANCHOR_MOVE_Y | ANCHOR_STRETCH_H, 0, 30, xywh(10, 20, 100, 80)},
        {"fixed width keeps growing dialog", ANCHOR_STRETCH_W | ANCHOR_FIXED_W, 30, 0, start},
        {"fixed width keeps shrinking dialog", ANCHOR_STRETCH_W | ANCHOR_FIXED_W, -30, 0, start},
        {"fixed width, grow only: grows", ANCHOR_STRETCH_W | ANCHOR_FIXED_W | ANCHOR_GROW_ONLY, 30, 0,
         xywh(10, 20, 130, 50)},
        {"fixed width, grow only: never shrinks", ANCHOR_STRETCH_W | ANCHOR_FIXED_W | ANCHOR_GROW_ONLY, -30, 0,
         start},
        {"grow only height keeps it when shrinking", ANCHOR_STRETCH_H | ANCHOR_GROW_ONLY, 0, -20, start},
        {"grow only height grows", ANCHOR_STRETCH_H | ANCHOR_GROW_ONLY, 0, 20, xywh(10, 20, 100, 70)},
        {"fixed width does not hold the height", ANCHOR_STRETCH_H | ANCHOR_FIXED_W, 0, -20, xywh(10, 20, 100, 30)},
        {"width that would go negative is 0", ANCHOR_STRETCH_W, -150, 0, xywh(10, 20, 0, 50)},
        {"height that would go negative is 0", ANCHOR_STRETCH_H, 0, -80, xywh(10, 20, 100, 0)},
    };
    for (const AnchorCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(placeLayoutItem(start, c.flags, c.dx, c.dy, {}), c.expected);
    }
}

// A window rectangle that the test can change or take away, as the dialog's windows would.
struct FakeWindow {
    std::optional<LayoutRect> rect;
    SplitterBound bound(int side)
    {
        SplitterBound b;
        b.side = side;
        b.windowRect = [this] { return rect; };
        return b;
    }
};

TEST(SplitterTest, StartsUndraggedUnboundedAtItsRect)
{
    const LayoutRect r = xywh(190, 10, 10, 280);
    Splitter s(r, SPLIT_FOLLOW_X, true);
    EXPECT_FALSE(s.dragging);
    EXPECT_TRUE(s.vertical);
    EXPECT_EQ(s.minBound.side, -1);
    EXPECT_EQ(s.maxBound.side, -1);
    EXPECT_EQ(s.offsetX, 0);
    EXPECT_EQ(s.offsetY, 0);
    EXPECT_EQ(s.baseX, 0);
    EXPECT_EQ(s.baseY, 0);
    EXPECT_EQ(s.initialRect, r);
    EXPECT_EQ(s.rect, r);
    EXPECT_EQ(s.followFlags, SPLIT_FOLLOW_X);
}

TEST(SplitterTest, DragStopsAtItsBounds)
{
    FakeWindow left{xywh(10, 10, 180, 280)};
    FakeWindow right{xywh(200, 10, 190, 280)};
    Splitter s(xywh(190, 10, 10, 280), 0, true); // centre x 195
    s.minBound = left.bound(0);                  // x >= 10
    s.maxBound = right.bound(2);                 // x <= 390

    struct Case {
        int x, y;
        int offsetX;
    } cases[] = {{250, 5, 55}, {2, 100, 10 - 195}, {500, 100, 390 - 195}, {195, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        s.moveTo(c.x, c.y);
        EXPECT_EQ(s.offsetX, c.offsetX);
        EXPECT_EQ(s.offsetY, 0) << "a vertical splitter ignores y";
        EXPECT_EQ(s.rect, xywh(190 + c.offsetX, 10, 10, 280));
    }
}

TEST(SplitterTest, HorizontalSplitterBoundByAnotherSplitter)
{
    Splitter upper(xywh(0, 100, 300, 6), 0, false);
    Splitter lower(xywh(0, 200, 300, 6), 0, false); // centre y 203
    lower.minBound.side = 4 + 3;                   // the bottom of the upper splitter
    lower.minBound.splitter = &upper;
    lower.moveTo(0, 50);
    EXPECT_EQ(lower.rect.centerY(), 106);
    upper.moveTo(0, 150);
    lower.moveTo(0, 50);
    EXPECT_EQ(lower.rect.centerY(), 153);
    EXPECT_EQ(lower.offsetX, 0);
}

TEST(SplitterTest, BoundOfAVanishedWindowNoLongerHolds)
{
    FakeWindow bar{xywh(100, 0, 10, 10)};
    Splitter s(xywh(190, 10, 10, 280), 0, true);
    s.minBound = bar.bound(2); // x >= 110
    s.moveTo(50, 0);
    EXPECT_EQ(s.rect.centerX(), 110);
    bar.rect.reset();
    s.moveTo(50, 0);
    EXPECT_EQ(s.rect.centerX(), 50);

    SplitterBound noSplitter;
    noSplitter.side = 5;
    EXPECT_EQ(noSplitter.position(), std::nullopt);
    SplitterBound badSide;
    badSide.side = 8;
    badSide.windowRect = [] { return std::optional<LayoutRect>(LayoutRect{1, 2, 3, 4}); };
    EXPECT_EQ(badSide.position(), std::nullopt);
}

TEST(SplitterTest, FollowsDialogGrowthOnlyWithItsFollowFlags)
{
    struct Case {
        int followFlags;
        int baseX, baseY;
    } cases[] = {{0, 0, 0}, {SPLIT_FOLLOW_X, 40, 0}, {SPLIT_FOLLOW_Y, 0, 30}, {SPLIT_FOLLOW_X | SPLIT_FOLLOW_Y, 40, 30},
                 {33, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.followFlags);
        Splitter s(xywh(190, 10, 10, 280), c.followFlags, true);
        s.moveTo(215, 0); // the user dragged it 20 to the right
        followDialogSize(s, 40, 30);
        EXPECT_EQ(s.baseX, c.baseX);
        EXPECT_EQ(s.baseY, c.baseY);
        EXPECT_EQ(s.offsetX, 20) << "the user's drag is kept";
        EXPECT_EQ(s.rect, xywh(190 + 20 + c.baseX, 10 + c.baseY, 10, 280));
    }
}

TEST(SplitterTest, ShrinkingDialogPushesSplitterBackInsideItsBound)
{
    FakeWindow dialogArea{xywh(6, 6, 388, 288)};
    Splitter s(xywh(190, 10, 10, 280), 0, true);
    s.maxBound = dialogArea.bound(2);
    s.moveTo(380, 0);
    EXPECT_EQ(s.rect.centerX(), 380);
    dialogArea.rect = xywh(6, 6, 288, 288); // the dialog became 100 narrower
    followDialogSize(s, -100, 0);
    EXPECT_EQ(s.rect.centerX(), 294);
    EXPECT_EQ(s.offsetX, 294 - 195);
}

// Tree and list side by side with a splitter between them, registered as the managed-items window does.
TEST(SplitterAnchorTest, ControlsOnBothSidesFollowTheSplitter)
{
    Splitter s(xywh(190, 10, 10, 280), 33, true);
    const LayoutRect tree = xywh(10, 10, 180, 280);
    const LayoutRect list = xywh(200, 10, 190, 280);
    const std::vector<SplitterAnchor> treeAnchors{{&s, SPLIT_STRETCH_W}};
    const std::vector<SplitterAnchor> listAnchors{{&s, SPLIT_MOVE_X | SPLIT_STRETCH_W}};

    s.moveTo(235, 0); // 40 to the right
    EXPECT_EQ(placeLayoutItem(tree, 33, 0, 0, treeAnchors), xywh(10, 10, 220, 280));
    EXPECT_EQ(placeLayoutItem(list, 50, 0, 0, listAnchors), xywh(240, 10, 150, 280));

    // The dialog grows by 100 x 50: the list takes the growth, the splitter stays.
    followDialogSize(s, 100, 50);
    EXPECT_EQ(placeLayoutItem(tree, 33, 100, 50, treeAnchors), xywh(10, 10, 220, 330));
    EXPECT_EQ(placeLayoutItem(list, 50, 100, 50, listAnchors), xywh(240, 10, 250, 330));

    // Dragged far to the left, the tree's width would go negative: it is 0.
    s.moveTo(0, 0);
    EXPECT_EQ(placeLayoutItem(tree, 33, 0, 0, treeAnchors), xywh(10, 10, 0, 280));
    EXPECT_EQ(placeLayoutItem(list, 50, 0, 0, listAnchors), xywh(5, 10, 385, 280));
}

TEST(SplitterAnchorTest, VerticalAnchorsAndMissingSplitter)
{
    Splitter s(xywh(0, 100, 300, 6), 0, false);
    s.moveTo(0, 113); // 10 down
    const LayoutRect top = xywh(0, 0, 300, 100);
    const LayoutRect bottom = xywh(0, 106, 300, 94);
    EXPECT_EQ(placeLayoutItem(top, 0, 0, 0, {{&s, SPLIT_STRETCH_H}}), xywh(0, 0, 300, 110));
    EXPECT_EQ(placeLayoutItem(bottom, 0, 0, 0, {{&s, SPLIT_MOVE_Y | SPLIT_STRETCH_H}}), xywh(0, 116, 300, 84));
    EXPECT_EQ(placeLayoutItem(top, 0, 0, 0, {{nullptr, SPLIT_STRETCH_H}}), top);
}

} // namespace
