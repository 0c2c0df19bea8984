#include "display/draw.h"

#include <algorithm>

#include "display/font.h"
#include "display/framebuffer.h"
#include "display/logo.h"

namespace {

// The logo is tinted a cold white; its faintest fringe (alpha below the
// threshold) is left out so that it does not smear the background.
constexpr std::uint32_t kLogoTint = 0xffe8f0ff;
constexpr unsigned kLogoThreshold = 25;
// At half size the logo takes every second pixel from (0, 0): 51 x 50 of
// them; its last column and last row are not used.
constexpr int kHalfLogoWidth = kLogoWidth / 2;
constexpr int kHalfLogoHeight = kLogoHeight / 2;

// A block's bevel is two pixels wide on every side.
constexpr int kBevel = 2;

std::uint32_t* pixel_row(int y) {
    return back_page + y * kPagePixelsPerRow;
}

// Stores colour into n pixels from p. Runs of eight let the compiler use
// its widest stores without knowing n (a plain loop of unknown length stays
// one word at a time at the optimisation level we build with).
void store_run(std::uint32_t* p, int n, std::uint32_t colour) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int k = 0; k < 8; ++k)
            p[i + k] = colour;
    }
    for (; i < n; ++i)
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

// Fills the part of columns left..right-1, rows top..bottom-1 that lies in
// the drawing area. Bounds are 64-bit so that a block far off screen cannot
// overflow them.
void fill_clipped(long long left, long long top, long long right, long long bottom,
                  std::uint32_t colour) {
    // Clamped on both sides before narrowing: an edge beyond the int range
    // (a block far below or right of the area) must not wrap to a negative
    // row or column.
    const int x0 = static_cast<int>(std::clamp(left, 0LL, static_cast<long long>(kAreaWidth)));
    const int y0 = static_cast<int>(std::clamp(top, 0LL, static_cast<long long>(kAreaHeight)));
    const int x1 = static_cast<int>(std::clamp(right, 0LL, static_cast<long long>(kAreaWidth)));
    const int y1 = static_cast<int>(std::clamp(bottom, 0LL, static_cast<long long>(kAreaHeight)));
    for (int y = y0; y < y1; ++y)
        store_run(pixel_row(y) + x0, x1 - x0, colour);
}

}  // namespace

void fill_rect(int x, int y, int w, int h, std::uint32_t colour) {
    for (int row = y; row < y + h; ++row)
        store_run(pixel_row(row) + x, w, colour);
}

void put_pixel(int x, int y, std::uint32_t colour) {
    pixel_row(y)[x] = colour;
}

void draw_block(int x, int y, int w, int h, std::uint32_t colour) {
    // Each edge stays inside the block, so a block thinner than its bevel
    // never paints outside itself.
    const long long left = x;
    const long long top = y;
    const long long right = left + w;
    const long long bottom = top + h;
    const int bevel_x = std::min(kBevel, w);
    const int bevel_y = std::min(kBevel, h);
    const std::uint32_t light = light_of(colour);
    const std::uint32_t dark = dark_of(colour);
    fill_clipped(left, top, right, bottom, colour);
    fill_clipped(left, top, right, top + bevel_y, light);
    fill_clipped(left, top, left + bevel_x, bottom, light);
    fill_clipped(left, bottom - bevel_y, right, bottom, dark);
    fill_clipped(right - bevel_x, top, right, bottom, dark);
}

void draw_text(const char* text, int x, int y, int size, std::uint32_t colour) {
    // Callers pass sizes 1 to 4; anything else would read past the tables.
    if (size < 1 || size > kFontSizeCount)
        return;
    const int width = kCellWidth[size - 1];
    const int height = kCellHeight[size - 1];
    // 64-bit pen: a long line far to the left cannot overflow it.
    long long pen = x;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0';
         ++p, pen += width) {
        if (pen >= kAreaWidth)
            break;  // this and every later cell lies right of the area
        if (*p < kFirstGlyphCode || *p > kLastGlyphCode || pen + width <= 0)
            continue;
        const std::uint8_t* coverage = glyph_coverage(size, *p);
        for (int r = 0; r < height; ++r, coverage += width) {
            const long long target_y = static_cast<long long>(y) + r;
            if (static_cast<unsigned long long>(target_y) >= kAreaHeight)
                continue;
            std::uint32_t* row = pixel_row(static_cast<int>(target_y));
            for (int c = 0; c < width; ++c) {
                const unsigned a = coverage[c];
                const long long target_x = pen + c;
                if (a == 0 || static_cast<unsigned long long>(target_x) >= kAreaWidth)
                    continue;
                row[target_x] = blend_coverage(row[target_x], colour, a);
            }
        }
    }
}

void draw_logo(int x, int y, int step) {
    const bool half = step == 2;
    const int width = half ? kHalfLogoWidth : kLogoWidth;
    const int height = half ? kHalfLogoHeight : kLogoHeight;
    const int stride = half ? 2 : 1;
    for (int j = 0; j < height; ++j) {
        std::uint32_t* row = pixel_row(y + j) + x;
        for (int i = 0; i < width; ++i) {
            const unsigned a = logo_alpha(i * stride, j * stride);
            if (a >= kLogoThreshold)
                row[i] = blend_coverage(row[i], kLogoTint, a);
        }
    }
}
