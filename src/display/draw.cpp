#include "display/draw.h"

#include <algorithm>

#include "display/pixel_runs.h"

namespace {

// Stores colour into n pixels from p. A run of eight or more goes to
// fill_pixels, which fills with the widest stores the processor has; a
// shorter one is not worth the call.
void store_run(std::uint32_t* p, int n, std::uint32_t colour) {
    if (n >= 8) {
        fill_pixels(p, n, colour);
        return;
    }
    for (int i = 0; i < n; ++i)
        p[i] = colour;
}

// Per-channel brightening and darkening for a block's bevel.
std::uint32_t light_of(std::uint32_t colour) {
    std::uint32_t result = 0xff000000u;
    for (unsigned shift = 0; shift <= 16; shift += 8) {
        const unsigned c = (colour >> shift) & 0xffu;
        result |= std::min(c + c / 2, 255u) << shift;
    }
    return result;
}

std::uint32_t dark_of(std::uint32_t colour) {
    std::uint32_t result = 0xff000000u;
    for (unsigned shift = 0; shift <= 16; shift += 8) {
        result |= (((colour >> shift) & 0xffu) / 2) << shift;
    }
    return result;
}

// Columns begin..end-1 of a row; empty when end <= begin.
struct Span {
    int begin, end;
};

// The columns from..to-1 that lie in the window.
Span clip_columns(const Rect& window, long long from, long long to) {
    return Span{clamp_to(from, window.left, window.right), clamp_to(to, window.left, window.right)};
}

void store_span(const Canvas& canvas, int row, Span span, std::uint32_t colour) {
    if (span.begin < span.end)
        store_run(canvas.at(span.begin, row), span.end - span.begin, colour);
}

}  // namespace

void fill_rect(const Canvas& canvas, int x, int y, int w, int h, std::uint32_t colour) {
    // Clipped in 64 bits, so that no position or size can overflow; the
    // columns first, since most of what misses the window misses them.
    const Rect& window = canvas.window;
    const int left = clamp_to(x, window.left, window.right);
    const int right = clamp_to(static_cast<long long>(x) + w, window.left, window.right);
    if (left >= right)
        return;
    const int top = clamp_to(y, window.top, window.bottom);
    const int bottom = clamp_to(static_cast<long long>(y) + h, window.top, window.bottom);
    for (int row = top; row < bottom; ++row)
        store_run(canvas.at(left, row), right - left, colour);
}

void put_pixel(const Canvas& canvas, int x, int y, std::uint32_t colour) {
    const Rect& window = canvas.window;
    if (x >= window.left && x < window.right && y >= window.top && y < window.bottom)
        *canvas.at(x, y) = colour;
}

void draw_block(const Canvas& canvas, int x, int y, int w, int h, std::uint32_t colour) {
    if (w < 1 || h < 1)
        return;
    // The five passes (fill, light top, light left, dark bottom, dark
    // right, each over the last) leave every pixel in the colour of the
    // last pass that reaches it, so each row is written once, in up to
    // three runs. An edge stays inside the block, so a block thinner than
    // its bevel never paints outside itself. Bounds are 64-bit so that a
    // block far off screen cannot overflow them.
    const Rect& window = canvas.window;
    const long long left = x;
    const long long top = y;
    const long long right = left + w;
    const long long bottom = top + h;
    const int bevel_x = std::min(kBlockEdge, w);
    const int bevel_y = std::min(kBlockEdge, h);
    const long long dark_begin = right - bevel_x;
    const Span whole = clip_columns(window, left, right);
    const Span top_light = clip_columns(window, left, dark_begin);
    const Span left_light = clip_columns(window, left, std::min(left + bevel_x, dark_begin));
    const Span inside = clip_columns(window, left + bevel_x, dark_begin);
    const Span right_dark = clip_columns(window, dark_begin, right);
    const std::uint32_t light = light_of(colour);
    const std::uint32_t dark = dark_of(colour);

    const int row_end = clamp_to(bottom, window.top, window.bottom);
    for (int row_y = clamp_to(top, window.top, window.bottom); row_y < row_end; ++row_y) {
        if (row_y >= bottom - bevel_y) {
            store_span(canvas, row_y, whole, dark);
        } else if (row_y < top + bevel_y) {
            store_span(canvas, row_y, top_light, light);
            store_span(canvas, row_y, right_dark, dark);
        } else {
            store_span(canvas, row_y, left_light, light);
            store_span(canvas, row_y, inside, colour);
            store_span(canvas, row_y, right_dark, dark);
        }
    }
}
