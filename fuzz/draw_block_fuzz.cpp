// draw_block at any position and size, in any colour: it draws inside the
// drawing area only (the page around it is a canary), and inside the area
// it fills exactly the part of the block that lies there.
#include <algorithm>
#include <cstdint>

#include "display/draw.h"
#include "fuzz_check.h"
#include "page_canary.h"

namespace {

PageCanary* canary = nullptr;
unsigned long long runs = 0;
constexpr unsigned long long kFullCheckEvery = 4096;

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
    auto at = [](long long px, long long py) -> std::uint32_t* {
        if (px < 0 || py < 0 || px >= kAreaWidth || py >= kAreaHeight)
            return nullptr;
        return back_page + py * kPagePixelsPerRow + px;
    };
    const long long probes[][2] = {{left - 1, top}, {left, top - 1},        {right, top},
                                   {left, bottom},  {right - 1, bottom},    {right, bottom - 1},
                                   {left, top},     {right - 1, bottom - 1}};
    for (const auto& p : probes) {
        if (std::uint32_t* pixel = at(p[0], p[1]))
            *pixel = kMarker;
    }

    draw_block(page_canvas(back_page), x, y, w, h, colour);

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
