// Layout arithmetic of the resizable dialogs.
#include "dialog_layout.h"

#include <algorithm>

namespace {

int rectSide(const LayoutRect& r, int side)
{
    switch (side) {
    case 0: return r.left;
    case 1: return r.top;
    case 2: return r.right;
    default: return r.bottom;
    }
}

// One axis of the anchor rule: the move of the position and the stretch of the size.
struct AxisFlags {
    int move, stretch, blockNegative, blockPositive, half;
};

void applyAxis(int delta, int flags, const AxisFlags& f, bool isWidth, int& pos, int& size)
{
    if (delta == 0)
        return;
    if ((flags & f.move) && !(flags & f.stretch)) {
        bool blocked = delta < 0 ? (flags & f.blockNegative) != 0 : (flags & f.blockPositive) != 0;
        if (!blocked)
            pos += (flags & f.half) ? delta / 2 : delta;
    }
    if (flags & f.stretch) {
        if (isWidth) {
            if ((flags & ANCHOR_GROW_ONLY) && delta > 0)
                size += delta;
            else if (!(flags & ANCHOR_FIXED_W))
                size += delta;
        } else if (!(flags & ANCHOR_GROW_ONLY) || delta > 0) {
            size += delta;
        }
    }
}

} // namespace

std::optional<int> SplitterBound::position() const
{
    if (side >= 0 && side <= 3) {
        if (!windowRect)
            return std::nullopt;
        std::optional<LayoutRect> r = windowRect();
        if (!r)
            return std::nullopt;
        return rectSide(*r, side);
    }
    if (side >= 4 && side <= 7 && splitter)
        return rectSide(splitter->rect, side - 4);
    return std::nullopt;
}

Splitter::Splitter(const LayoutRect& r, int follow, bool isVertical)
    : vertical(isVertical), initialRect(r), rect(r), followFlags(follow)
{
}

void Splitter::moveTo(int x, int y)
{
    int& pos = vertical ? x : y;
    if (std::optional<int> lo = minBound.position())
        pos = std::max(pos, *lo);
    if (std::optional<int> hi = maxBound.position())
        pos = std::min(pos, *hi);
    if (vertical)
        offsetX = x - initialRect.centerX() - baseX;
    else
        offsetY = y - initialRect.centerY() - baseY;
    rect = initialRect.shifted(shiftX(), shiftY());
}

void followDialogSize(Splitter& splitter, int dx, int dy)
{
    if (splitter.followFlags & SPLIT_FOLLOW_X)
        splitter.baseX = dx;
    if (splitter.followFlags & SPLIT_FOLLOW_Y)
        splitter.baseY = dy;
    splitter.moveTo(splitter.initialRect.centerX() + splitter.shiftX(),
                    splitter.initialRect.centerY() + splitter.shiftY());
}

LayoutRect placeLayoutItem(const LayoutRect& initialRect, int anchorFlags, int dx, int dy,
                           const std::vector<SplitterAnchor>& anchors)
{
    int x = initialRect.left;
    int y = initialRect.top;
    int w = initialRect.width();
    int h = initialRect.height();
    applyAxis(dx, anchorFlags, {ANCHOR_MOVE_X, ANCHOR_STRETCH_W, ANCHOR_NO_LEFT, ANCHOR_NO_RIGHT, ANCHOR_HALF_X},
              true, x, w);
    applyAxis(dy, anchorFlags, {ANCHOR_MOVE_Y, ANCHOR_STRETCH_H, ANCHOR_NO_UP, ANCHOR_NO_DOWN, ANCHOR_HALF_Y},
              false, y, h);
    for (const SplitterAnchor& a : anchors) {
        if (!a.splitter)
            continue;
        int sx = a.splitter->shiftX();
        int sy = a.splitter->shiftY();
        if (a.flags & SPLIT_MOVE_X)
            x += sx;
        if (a.flags & SPLIT_MOVE_Y)
            y += sy;
        if (a.flags & SPLIT_STRETCH_W)
            w += (a.flags & SPLIT_MOVE_X) ? -sx : sx;
        if (a.flags & SPLIT_STRETCH_H)
            h += (a.flags & SPLIT_MOVE_Y) ? -sy : sy;
    }
    return LayoutRect::fromSize(x, y, std::max(w, 0), std::max(h, 0));
}
