// draw_block at any position and size, in any colour: it draws inside the
// drawing area only (the page around it is a canary), and inside the area
// it fills exactly the part of the block that lies there. Drawn into a small
// canvas over a window of the area, it gives there exactly what it gives on
// the page. And two frames made of such blocks, fills, pixels and texts,
// the second a variation of the first: the first composed whole and then
// the second only where the damage between them says, gives exactly the
// second composed whole.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "display/compositor.h"
#include "display/draw.h"
#include "display/list_diff.h"
#include "fuzz_check.h"
#include "page_canary.h"

namespace {

PageCanary* canary = nullptr;
unsigned long long runs = 0;
constexpr unsigned long long kFullCheckEvery = 4096;

// The small canvas: a window of at most 64 x 64 pixels of the area.
constexpr int kWindowSide = 64;
std::uint32_t window_pixels[kWindowSide * kWindowSide];

// A window of at most 64 x 64 pixels of the area, anywhere on it.
Rect take_window(FuzzInput& input) {
    const int left = input.range(-kWindowSide, kAreaWidth - 1);
    const int top = input.range(-kWindowSide, kAreaHeight - 1);
    return Rect{std::max(left, 0), std::max(top, 0), std::min(left + kWindowSide, kAreaWidth),
                std::min(top + kWindowSide, kAreaHeight)};
}

// ---- Damage between two frames -------------------------------------------

// The frames are drawn in the top-left corner of the area; items reach a
// little beyond it, and past the area's top and left edges.
constexpr Rect kCorner = {0, 0, 256, 192};
DisplayList first;
DisplayList second;
std::uint32_t* composed = nullptr;  // the first, then the damage of the second
std::uint32_t* whole = nullptr;     // the second, whole
// The small buffer composing goes through, and the blends texts remember.
std::uint32_t buffer[kComposeBufferPixels];
BlendMemo memo;

void add_item(FuzzInput& input, DisplayList& list, int kind, int x, int y, int w, int h,
              std::uint32_t colour) {
    switch (kind) {
        case 0:
            list.fill(x, y, w, h, colour);
            break;
        case 1:
            list.pixel(x, y, colour);
            break;
        case 2:
            list.block(x, y, w, h, colour);
            break;
        case 3:
            list.brick(x, y, w, h, colour, static_cast<BrickMarks>(input.range(0, 3)));
            break;
        default: {
            char text[4] = {static_cast<char>(input.range(32, 126)),
                            static_cast<char>(input.range(32, 126)), 0, 0};
            list.text(text, x, y, input.range(1, 4), colour);
            break;
        }
    }
}

void check_damage(FuzzInput& input) {
    if (composed == nullptr) {
        composed = new std::uint32_t[kPagePixelsPerRow * kCorner.bottom];
        whole = new std::uint32_t[kPagePixelsPerRow * kCorner.bottom];
    }
    first.clear();
    second.clear();
    // Each frame begins with its clear, as the game's do.
    const std::uint32_t background = 0xff000000u | input.take<std::uint32_t>();
    first.fill(0, 0, kAreaWidth, kAreaHeight, background);
    second.fill(0, 0, kAreaWidth, kAreaHeight, background);
    const int items = input.range(0, 24);
    for (int i = 0; i < items; ++i) {
        const int kind = input.range(0, 4);
        int x = input.range(-20, kCorner.right);
        int y = input.range(-20, kCorner.bottom);
        const int w = input.range(1, 48);
        const int h = input.range(1, 40);
        std::uint32_t colour = input.take<std::uint32_t>();
        add_item(input, first, kind, x, y, w, h, colour);
        // Mostly the same item in the second frame; sometimes none, or
        // moved, or in another colour, or another item before it.
        switch (input.range(0, 7)) {
            case 0:
                continue;
            case 1:
                x += input.range(-3, 3);
                y += input.range(-3, 3);
                break;
            case 2:
                colour ^= 0x00010000u;
                break;
            case 3:
                add_item(input, second, input.range(0, 4), input.range(-20, kCorner.right),
                         input.range(-20, kCorner.bottom), input.range(1, 48), input.range(1, 40),
                         input.take<std::uint32_t>());
                break;
            default:
                break;
        }
        add_item(input, second, kind, x, y, w, h, colour);
    }

    // Both pages are the corner only, rows kPagePixelsPerRow apart as on a
    // page of the framebuffer; compose_rect clips every rectangle to it.
    const Canvas composed_page{composed, kPagePixelsPerRow, kCorner};
    const Canvas whole_page{whole, kPagePixelsPerRow, kCorner};
    compose_rect(first, kCorner, composed_page, buffer, memo);
    Damage damage;
    find_damage(first, second, damage);
    for (int i = 0; i < damage.count(); ++i)
        compose_rect(second, damage[i], composed_page, buffer, memo);
    compose_rect(second, kCorner, whole_page, buffer, memo);
    for (int row = 0; row < kCorner.bottom; ++row) {
        FUZZ_CHECK(
            std::memcmp(composed_page.at(0, row), whole_page.at(0, row), kCorner.right * 4u) == 0);
    }
}

}  // namespace

int fuzz_draw_block(const std::uint8_t* data, std::size_t size) {
    if (canary == nullptr)
        canary = new PageCanary();
    FuzzInput input(data, size);
    // Each of x, y, w and h is either any int at all or, more often, a value
    // near the drawing area (a small block on or across its edges): the
    // fuzzer reaches both kinds of input, and the small ones, which cost
    // little to draw, make up most of its executions.
    const std::uint8_t any_int = input.take<std::uint8_t>();
    auto value = [&](int bit, int near_span, int near_start) {
        if (any_int & (1 << bit))
            return input.take<int>();
        return static_cast<int>(input.take<std::uint16_t>() % near_span) + near_start;
    };
    const int x = value(0, kAreaWidth + 320, -160);
    const int y = value(1, kAreaHeight + 280, -140);
    const int w = value(2, 200, -8);
    const int h = value(3, 200, -8);
    const std::uint32_t colour = input.take<std::uint32_t>();
    // A marker that no bevel or fill colour can be: they are all opaque.
    constexpr std::uint32_t kMarker = 0x00123456u;

    // The pixels of the block that lie in the area, as 64-bit bounds.
    const long long left = std::max<long long>(x, 0);
    const long long top = std::max<long long>(y, 0);
    const long long right =
        std::min<long long>(static_cast<long long>(x) + std::max(w, 0), kAreaWidth);
    const long long bottom =
        std::min<long long>(static_cast<long long>(y) + std::max(h, 0), kAreaHeight);
    // Mark a one-pixel frame around the visible part, and its corners.
    std::uint32_t* const area = canary->page();
    auto at = [area](long long px, long long py) -> std::uint32_t* {
        if (px < 0 || py < 0 || px >= kAreaWidth || py >= kAreaHeight)
            return nullptr;
        return area + py * kPagePixelsPerRow + px;
    };
    const long long probes[][2] = {{left - 1, top}, {left, top - 1},        {right, top},
                                   {left, bottom},  {right - 1, bottom},    {right, bottom - 1},
                                   {left, top},     {right - 1, bottom - 1}};
    for (const auto& p : probes) {
        if (std::uint32_t* pixel = at(p[0], p[1]))
            *pixel = kMarker;
    }

    // The same block drawn into a small canvas over a window of the area,
    // which starts as a copy of the page there, gives the page's pixels.
    const Canvas page = page_canvas(area);
    const Rect window = take_window(input);
    const int width = window.right - window.left;
    const Canvas small{window_pixels, width, window};
    for (int row = window.top; row < window.bottom; ++row)
        std::memcpy(small.at(window.left, row), page.at(window.left, row), width * 4u);

    draw_block(page, x, y, w, h, colour);
    draw_block(small, x, y, w, h, colour);
    for (int row = window.top; row < window.bottom; ++row) {
        FUZZ_CHECK(std::memcmp(small.at(window.left, row), page.at(window.left, row), width * 4u) ==
                   0);
    }
    if (input.flag())
        check_damage(input);

    const bool any = w >= 1 && h >= 1 && left < right && top < bottom;
    for (int i = 0; i < 6; ++i) {
        const long long px = probes[i][0];
        const long long py = probes[i][1];
        const bool inside = px >= left && px < right && py >= top && py < bottom;
        if (std::uint32_t* pixel = at(px, py)) {
            if (!inside)
                FUZZ_CHECK(*pixel == kMarker);
        }
    }
    // The corners of its visible part were painted.
    for (int i = 6; i < 8; ++i) {
        if (std::uint32_t* pixel = at(probes[i][0], probes[i][1])) {
            if (any)
                FUZZ_CHECK(*pixel != kMarker || colour == kMarker);
        }
    }
    if (fuzz_thorough || ++runs % kFullCheckEvery == 0)
        canary->check();
    return 0;
}

VMX_FUZZ_ENTRY(fuzz_draw_block)
