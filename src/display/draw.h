#pragma once
// The drawing layer: primitives that write 32-bit pixels 0xAARRGGBB straight
// into back_page, inside the 1280 x 720 drawing area. Every screen is built
// from these each frame, in painter's order; nothing else writes the pages.
#include <cstdint>

constexpr int kAreaWidth = 1280;
constexpr int kAreaHeight = 720;
constexpr int kPagePixelsPerRow = 1920;

// Unclipped: callers keep these wholly inside the area.

// Stores colour, unchanged, into every pixel of the w x h rectangle.
void fill_rect(int x, int y, int w, int h, std::uint32_t colour);
void put_pixel(int x, int y, std::uint32_t colour);
// The logo tinted cold white: step 1 is full size (103 x 100), step 2 half
// size (51 x 50, every second image pixel).
void draw_logo(int x, int y, int step);

// Clipped per pixel to the area.

// A bevelled tile (w, h >= 1): the colour word inside, a two-pixel light edge
// (each channel c + c / 2, capped) along the top and the left, and a
// two-pixel dark edge (c / 2) along the bottom and the right; the dark edges
// win the top-right and bottom-left corners.
void draw_block(int x, int y, int w, int h, std::uint32_t colour);
// A line of text in the built-in font, size 1 to 4, with the top-left of its
// first cell at (x, y). Every byte advances by the cell width; bytes outside
// 32..126 leave their cell blank. There is no line breaking.
void draw_text(const char* text, int x, int y, int size, std::uint32_t colour);

// Lays colour over old with coverage a (0..255), channel by channel for blue,
// green and red, flooring each product separately, so that a = 255 gives
// exactly the colour. The result is opaque; the colour's own alpha is not
// used. Text and the logo blend with it.
constexpr std::uint32_t blend_coverage(std::uint32_t old, std::uint32_t colour, unsigned a) {
    const unsigned keep = 255 - a;
    std::uint32_t result = 0xff000000u;
    for (unsigned shift = 0; shift <= 16; shift += 8) {
        const unsigned o = (old >> shift) & 0xffu;
        const unsigned c = (colour >> shift) & 0xffu;
        result |= (o * keep / 255 + c * a / 255) << shift;
    }
    return result;
}
