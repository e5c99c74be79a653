// Layout arithmetic of the resizable dialogs: where a registered control goes when the dialog's client
// area has grown by (dx, dy) since initialisation and the splitter bars it is bound to have moved.
// Plain rectangles and integers, no windows: the dialog class (resizeable_dlg.h) applies the results.
#pragma once

#include <functional>
#include <optional>
#include <vector>

// A rectangle as the dialogs keep them: right and bottom are exclusive.
struct LayoutRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    int centerX() const { return (left + right) / 2; }
    int centerY() const { return (top + bottom) / 2; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    LayoutRect shifted(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    static LayoutRect fromSize(int x, int y, int w, int h) { return {x, y, x + w, y + h}; }
    bool operator==(const LayoutRect&) const = default;
};

// Anchor flags of a registered control, for the change dx, dy of the client size since initialisation.
enum AnchorFlags : int {
    ANCHOR_MOVE_X = 0x2,        // move with dx
    ANCHOR_MOVE_Y = 0x8,        // move with dy
    ANCHOR_STRETCH_W = 0x10,    // stretch the width by dx
    ANCHOR_STRETCH_H = 0x20,    // stretch the height by dy
    ANCHOR_NO_LEFT = 0x100,     // ignore dx < 0 for the move
    ANCHOR_NO_UP = 0x200,       // ignore dy < 0 for the move
    ANCHOR_NO_RIGHT = 0x400,    // ignore dx > 0 for the move
    ANCHOR_NO_DOWN = 0x800,     // ignore dy > 0 for the move
    ANCHOR_FIXED_W = 0x1000,    // no stretching of the width (but see ANCHOR_GROW_ONLY)
    ANCHOR_GROW_ONLY = 0x2000,  // with ANCHOR_FIXED_W the width may grow; the height only grows
    ANCHOR_HALF_X = 0x10000,    // move by dx / 2
    ANCHOR_HALF_Y = 0x20000,    // move by dy / 2
};

// How a control follows one splitter's shift (baseX + offsetX, baseY + offsetY).
enum SplitterAnchorFlags : int {
    SPLIT_MOVE_X = 0x1,
    SPLIT_MOVE_Y = 0x4,
    SPLIT_STRETCH_W = 0x10, // minus the shift when SPLIT_MOVE_X is also set
    SPLIT_STRETCH_H = 0x20, // minus the shift when SPLIT_MOVE_Y is also set
};

// Which dialog growth a splitter's base shift follows.
enum SplitterFollowFlags : int {
    SPLIT_FOLLOW_X = 0x2,
    SPLIT_FOLLOW_Y = 0x8,
};

struct Splitter;

// A limit of a splitter's drag. side -1: no bound. 0..3: left, top, right, bottom of a window's rectangle,
// read through windowRect (nullopt there, e.g. for a window that is gone, means no bound). 4..7: left,
// top, right, bottom of another splitter's current rect.
struct SplitterBound {
    int side = -1;
    std::function<std::optional<LayoutRect>()> windowRect;
    const Splitter* splitter = nullptr;

    // The bound's coordinate, or nullopt when it is unset or cannot be resolved.
    std::optional<int> position() const;
};

// A draggable bar between controls. A vertical splitter moves along x, a horizontal one along y.
struct Splitter {
    // Starts undragged and unbounded, with both rects at rect and no shift.
    Splitter(const LayoutRect& rect, int followFlags, bool vertical);

    bool dragging = false;
    bool vertical = false;
    SplitterBound minBound;
    SplitterBound maxBound;
    int offsetX = 0; // the user's drag
    int offsetY = 0;
    int baseX = 0;   // the shift that follows the dialog size
    int baseY = 0;
    LayoutRect initialRect;
    LayoutRect rect; // current
    int followFlags = 0;

    // Puts the splitter's centre at x (vertical) or y (horizontal), within its bounds; the other
    // coordinate is ignored.
    void moveTo(int x, int y);
    // The whole shift of the splitter from its initial place.
    int shiftX() const { return baseX + offsetX; }
    int shiftY() const { return baseY + offsetY; }
};

struct SplitterAnchor {
    Splitter* splitter = nullptr;
    int flags = 0;
};

// Lets a splitter's base shift follow the dialog's growth (its follow flags), then moves it back to its
// place so that its bounds apply again.
void followDialogSize(Splitter& splitter, int dx, int dy);

// Where a control registered at initialRect with anchorFlags goes for the dialog growth (dx, dy) and the
// current shifts of its splitters. A width or height that would go negative is 0.
LayoutRect placeLayoutItem(const LayoutRect& initialRect, int anchorFlags, int dx, int dy,
                           const std::vector<SplitterAnchor>& anchors);
