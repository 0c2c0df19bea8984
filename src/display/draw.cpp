// STAND-IN until the drawing layer lands: only fill_rect draws.
#include "display/draw.h"

#include "display/framebuffer.h"

void fill_rect(int x, int y, int w, int h, std::uint32_t colour) {
    for (int row = y; row < y + h; ++row) {
        std::uint32_t* line = back_page + row * kPagePixelsPerRow;
        for (int column = x; column < x + w; ++column) line[column] = colour;
    }
}

void put_pixel(int x, int y, std::uint32_t colour) { back_page[y * kPagePixelsPerRow + x] = colour; }
void draw_logo(int, int, int) {}
void draw_block(int, int, int, int, std::uint32_t) {}
void draw_text(const char*, int, int, int, std::uint32_t) {}
