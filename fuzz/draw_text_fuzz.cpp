// draw_text with any bytes, at any position, size and colour: it draws
// inside the drawing area only (the page around it is a canary), and only
// within the cells of its characters. Drawn into a small canvas over a
// window of the area near its start, it gives there exactly what it gives on
// the page.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "display/draw.h"
#include "display/font.h"
#include "display/text.h"
#include "fuzz_check.h"
#include "page_canary.h"

namespace {

PageCanary* canary = nullptr;
// What the texts drawn remember of their blends, as the game's display keeps it.
BlendMemo* memo = nullptr;
unsigned long long runs = 0;
constexpr unsigned long long kFullCheckEvery = 4096;
constexpr std::uint32_t kMarker = 0x00123456u;  // no blended pixel is transparent

// The small canvas: a window of at most 64 x 64 pixels of the area.
constexpr int kWindowSide = 64;
std::uint32_t window_pixels[kWindowSide * kWindowSide];

// A window around (x, y), moved by up to 32 pixels each way by the colour's
// low bits, so that it crosses the text's edges in every way.
Rect window_near(long long x, long long y, std::uint32_t colour) {
    const long long left =
        std::clamp<long long>(x + (colour & 0x3f) - 32, -kWindowSide, kAreaWidth - 1);
    const long long top =
        std::clamp<long long>(y + ((colour >> 8) & 0x3f) - 32, -kWindowSide, kAreaHeight - 1);
    return Rect{static_cast<int>(std::max<long long>(left, 0)),
                static_cast<int>(std::max<long long>(top, 0)),
                static_cast<int>(std::min<long long>(left + kWindowSide, kAreaWidth)),
                static_cast<int>(std::min<long long>(top + kWindowSide, kAreaHeight))};
}

}  // namespace

int fuzz_draw_text(const std::uint8_t* data, std::size_t size) {
    if (canary == nullptr)
        canary = new PageCanary();
    if (memo == nullptr)
        memo = new BlendMemo();
    FuzzInput input(data, size);
    const int x = input.take<int>();
    const int y = input.take<int>();
    const int size_code = input.take<int>();
    const std::uint32_t colour = input.take<std::uint32_t>();
    const std::string text = input.rest();

    // The pixels just outside the text's box (left, right, above, below),
    // where the box is clipped to the area.
    long long length = static_cast<long long>(std::strlen(text.c_str()));
    bool drawable = size_code >= 1 && size_code <= kFontSizeCount;
    long long width = drawable ? kTextCellWidth[size_code - 1] : 0;
    long long height = drawable ? kTextCellHeight[size_code - 1] : 0;
    const long long box[4] = {x, y, x + width * length, y + height};
    std::uint32_t* const area = canary->page();
    auto at = [area](long long px, long long py) -> std::uint32_t* {
        if (px < 0 || py < 0 || px >= kAreaWidth || py >= kAreaHeight)
            return nullptr;
        return area + py * kPagePixelsPerRow + px;
    };
    const long long mid_x = std::clamp<long long>((box[0] + box[2]) / 2, 0, kAreaWidth - 1);
    const long long mid_y = std::clamp<long long>((box[1] + box[3]) / 2, 0, kAreaHeight - 1);
    const long long probes[][2] = {
        {box[0] - 1, mid_y}, {box[2], mid_y}, {mid_x, box[1] - 1}, {mid_x, box[3]}};
    for (const auto& p : probes) {
        if (std::uint32_t* pixel = at(p[0], p[1]))
            *pixel = kMarker;
    }

    const Canvas page = page_canvas(area);
    const Rect window = window_near(x, y, colour);
    const int window_width = window.right - window.left;
    const Canvas small{window_pixels, window_width, window};
    for (int row = window.top; row < window.bottom; ++row)
        std::memcpy(small.at(window.left, row), page.at(window.left, row), window_width * 4u);

    draw_text(page, *memo, text.c_str(), x, y, size_code, colour);
    draw_text(small, *memo, text.c_str(), x, y, size_code, colour);
    for (int row = window.top; row < window.bottom; ++row) {
        FUZZ_CHECK(std::memcmp(small.at(window.left, row), page.at(window.left, row),
                               window_width * 4u) == 0);
    }

    for (const auto& p : probes) {
        if (std::uint32_t* pixel = at(p[0], p[1]))
            FUZZ_CHECK(*pixel == kMarker);
    }
    if (fuzz_thorough || ++runs % kFullCheckEvery == 0)
        canary->check();
    return 0;
}

VMX_FUZZ_ENTRY(fuzz_draw_text)
