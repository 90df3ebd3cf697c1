// Integer pixel geometry. A Rect covers the pixels left <= x < right, top <= y < bottom (right
// and bottom exclusive); it is empty when right <= left or bottom <= top.
#pragma once

#include <algorithm>

namespace gui {

struct Point {
    int x = 0;
    int y = 0;
    friend constexpr bool operator==(Point, Point) = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    // Widths and heights are 64-bit: right - left of two ints can exceed an int.
    constexpr long long width() const { return static_cast<long long>(right) - left; }
    constexpr long long height() const { return static_cast<long long>(bottom) - top; }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    constexpr bool contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    // The common part; empty (not necessarily 0,0,0,0) when they do not overlap.
    constexpr Rect intersect(const Rect& o) const {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

} // namespace gui
