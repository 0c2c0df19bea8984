#pragma once
// Rectangles of the 1280 x 720 drawing area and the operations on them: the
// one clamp every clip goes through, the box of a position and size inside
// a rectangle, intersection and union. The drawing primitives, the display
// list, the damage and the compositor all take theirs from here.
#include <algorithm>
#include <cstdint>

constexpr int kAreaWidth = 1280;
constexpr int kAreaHeight = 720;

// Columns left..right-1 and rows top..bottom-1 of the drawing area; empty
// when either range is.
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;

    constexpr bool empty() const { return right <= left || bottom <= top; }
    constexpr long long area() const {
        return empty() ? 0 : static_cast<long long>(right - left) * (bottom - top);
    }
    constexpr bool operator==(const Rect&) const = default;
};

constexpr Rect kArea = {0, 0, kAreaWidth, kAreaHeight};

// The area's rows in bands: the display list and the damage each know, per
// band, which of their items or rectangles reach into it, so that a small
// rectangle is held against the few it may meet.
constexpr int kBandRows = 16;
constexpr int kBands = (kAreaHeight + kBandRows - 1) / kBandRows;

// Clamps a 64-bit coordinate into low..high before it is narrowed, so that
// an edge beyond the int range (something far below or right of the area)
// cannot wrap to a negative row or column.
constexpr int clamp_to(long long value, int low, int high) {
    return static_cast<int>(
        std::clamp(value, static_cast<long long>(low), static_cast<long long>(high)));
}

// The part of x..x+w-1, y..y+h-1 that lies inside within, computed in 64
// bits so that no position or size can overflow it; empty when w or h is
// not positive.
constexpr Rect clip_box(long long x, long long y, long long w, long long h, const Rect& within) {
    if (w <= 0 || h <= 0)
        return Rect{};
    return Rect{clamp_to(x, within.left, within.right), clamp_to(y, within.top, within.bottom),
                clamp_to(x + w, within.left, within.right),
                clamp_to(y + h, within.top, within.bottom)};
}

constexpr Rect intersect(const Rect& a, const Rect& b) {
    return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

// The smallest rectangle holding both.
constexpr Rect unite(const Rect& a, const Rect& b) {
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

// Whether the two overlap or share an edge.
constexpr bool overlap_or_touch(const Rect& a, const Rect& b) {
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}
