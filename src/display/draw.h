#pragma once
// The drawing layer: primitives that write 32-bit pixels 0xAARRGGBB straight
// into back_page, inside the 1280 x 720 drawing area.
#include <cstdint>

constexpr int kAreaWidth = 1280;
constexpr int kAreaHeight = 720;
constexpr int kPagePixelsPerRow = 1920;

// Unclipped: callers keep these wholly inside the area.
void fill_rect(int x, int y, int w, int h, std::uint32_t colour);
void put_pixel(int x, int y, std::uint32_t colour);
void draw_logo(int x, int y, int step);

// Clipped per pixel to the area.
void draw_block(int x, int y, int w, int h, std::uint32_t colour);
void draw_text(const char* text, int x, int y, int size, std::uint32_t colour);
