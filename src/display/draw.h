#pragma once
// The drawing layer: primitives that write 32-bit pixels 0xAARRGGBB into a
// canvas, a window of the 1280 x 720 drawing area held in memory (a page of
// the framebuffer, or the compositor's small buffer). Every screen is built
// from these in painter's order; text and the logo are in text.h.
#include <cstdint>

#include "display/rect.h"

// A framebuffer page's row pitch in pixels: 1920 pixels of 32 bits.
constexpr int kPagePixelsPerRow = 1920;

// The pixels of a window of the drawing area: pixel (x, y) of the area is
// at pixels[(y - window.top) * stride + (x - window.left)]. Every primitive
// draws only inside the window; what falls outside it is left out.
struct Canvas {
    std::uint32_t* pixels = nullptr;
    int stride = 0;
    Rect window;

    std::uint32_t* at(int x, int y) const {
        return pixels + (static_cast<long>(y - window.top) * stride + (x - window.left));
    }
};

// The whole drawing area of a framebuffer page (rows kPagePixelsPerRow apart).
constexpr Canvas page_canvas(std::uint32_t* page) {
    return Canvas{page, kPagePixelsPerRow, kArea};
}

// One of the two drawing pages, from composition to display: which one it
// is (0 or 1) and its drawing area. The compositor remembers a page by its
// index, the pan goes to the page by its index, and a front end learns the
// index of the page shown.
constexpr int kPageCount = 2;
struct Page {
    int index = 0;
    Canvas canvas;
};

// Stores colour, unchanged, into every pixel of the w x h rectangle.
void fill_rect(const Canvas& canvas, int x, int y, int w, int h, std::uint32_t colour);
void put_pixel(const Canvas& canvas, int x, int y, std::uint32_t colour);
// A bevelled tile (w, h >= 1): the colour word inside, a two-pixel light edge
// (each channel c + c / 2, capped) along the top and the left, and a
// two-pixel dark edge (c / 2) along the bottom and the right; the dark edges
// win the top-right and bottom-left corners.
constexpr int kBlockEdge = 2;  // the width of the light and the dark edges
void draw_block(const Canvas& canvas, int x, int y, int w, int h, std::uint32_t colour);
