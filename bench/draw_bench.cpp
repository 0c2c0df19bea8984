// The drawing primitives against references doing the same work in the same
// run: text against pixman compositing the same glyph coverage OVER the same
// background, solid fills against pixman_fill. (The whole frame against a
// std::fill of the area is in frame_bench.) pixman is here only as a
// yardstick; the game never links it.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "display/draw.h"
#include "display/font.h"
#include "display/palette.h"
#include "display/text.h"
#include "paired.h"

namespace {

constexpr int kPageRows = 1080;

// A page of our own, 1920 pixels to a row like the framebuffer's, cleared
// to the game's background.
struct Page {
    std::vector<std::uint32_t> words =
        std::vector<std::uint32_t>(static_cast<std::size_t>(kPagePixelsPerRow) * kPageRows, 0);
    // What the texts drawn into it remember of their blends.
    BlendMemo memo;
    Page() { fill_rect(canvas(), 0, 0, kAreaWidth, kAreaHeight, kBackground); }
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    std::uint32_t* pixels() { return words.data(); }
    Canvas canvas() { return page_canvas(words.data()); }
};

// The drawing area of the page as a pixman image (no copy: pixman draws
// into the same memory).
pixman_image_t* area_image(Page& page) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, kAreaWidth, kAreaHeight, page.pixels(),
                                    kPagePixelsPerRow * 4);
}

// ---- Text ----------------------------------------------------------------

// A 40-character status-like line; at size 4 it is 1040 pixels wide.
constexpr const char* kLine = "SCORE 0012340  BEST 0098765  hold PLAY 3";
constexpr std::uint32_t kTextColour = kYellow;

// What a glyph cache built for pixman holds: each glyph cut to the box of
// its inked pixels, as an a8 mask, and where that box sits in the cell.
// Empty glyphs (the space) have no image and are not composited at all.
struct PixmanGlyph {
    pixman_image_t* mask = nullptr;
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> bits;
};

class PixmanFont {
  public:
    explicit PixmanFont(int size) {
        const int w = kTextCellWidth[size - 1];
        const int h = kTextCellHeight[size - 1];
        for (int code = kFirstGlyphCode; code <= kLastGlyphCode; ++code) {
            const std::uint8_t* coverage = glyph_coverage(size, code);
            int left = w, right = -1, top = h, bottom = -1;
            for (int r = 0; r < h; ++r) {
                for (int c = 0; c < w; ++c) {
                    if (coverage[r * w + c] != 0) {
                        left = std::min(left, c);
                        right = std::max(right, c);
                        top = std::min(top, r);
                        bottom = std::max(bottom, r);
                    }
                }
            }
            PixmanGlyph& glyph = glyphs_[code - kFirstGlyphCode];
            if (right < 0)
                continue;
            glyph.left = left;
            glyph.top = top;
            glyph.width = right - left + 1;
            glyph.height = bottom - top + 1;
            const int stride = (glyph.width + 3) / 4 * 4;  // a8 rows are whole words
            glyph.bits.assign(static_cast<std::size_t>(stride) * glyph.height, 0);
            for (int r = 0; r < glyph.height; ++r) {
                std::memcpy(&glyph.bits[static_cast<std::size_t>(r) * stride],
                            coverage + (top + r) * w + left, glyph.width);
            }
            glyph.mask = pixman_image_create_bits(
                PIXMAN_a8, glyph.width, glyph.height,
                reinterpret_cast<std::uint32_t*>(glyph.bits.data()), stride);
        }
        const pixman_color_t colour = {
            static_cast<std::uint16_t>(((kTextColour >> 16) & 0xff) * 257),
            static_cast<std::uint16_t>(((kTextColour >> 8) & 0xff) * 257),
            static_cast<std::uint16_t>((kTextColour & 0xff) * 257), 0xffff};
        source_ = pixman_image_create_solid_fill(&colour);
        width_ = w;
    }
    ~PixmanFont() {
        for (PixmanGlyph& glyph : glyphs_) {
            if (glyph.mask != nullptr)
                pixman_image_unref(glyph.mask);
        }
        pixman_image_unref(source_);
    }
    PixmanFont(const PixmanFont&) = delete;
    PixmanFont& operator=(const PixmanFont&) = delete;

    // The same line as draw_text, glyph by glyph.
    void draw(pixman_image_t* target, const char* text, int x, int y) const {
        for (const char* p = text; *p != '\0'; ++p, x += width_) {
            const PixmanGlyph& glyph = glyphs_[*p - kFirstGlyphCode];
            if (glyph.mask == nullptr)
                continue;
            pixman_image_composite32(PIXMAN_OP_OVER, source_, glyph.mask, target, 0, 0, 0, 0,
                                     x + glyph.left, y + glyph.top, glyph.width, glyph.height);
        }
    }

  private:
    std::array<PixmanGlyph, kGlyphCount> glyphs_;
    pixman_image_t* source_ = nullptr;
    int width_ = 0;
};

void BM_DrawTextVsPixman(benchmark::State& state) {
    Page page;
    const int size = static_cast<int>(state.range(0));
    const PixmanFont font(size);
    pixman_image_t* target = area_image(page);
    // Both draw the same line at the same place over a freshly cleared band,
    // as the game draws its texts over the cleared frame.
    measure_against(
        state, [&] { draw_text(page.canvas(), page.memo, kLine, 20, 300, size, kTextColour); },
        [&] { font.draw(target, kLine, 20, 300); },
        [&] {
            fill_rect(page.canvas(), 0, 300, kAreaWidth, kTextCellHeight[kFontSizeCount - 1],
                      kBackground);
        });
    pixman_image_unref(target);
    state.SetItemsProcessed(state.iterations() * 40);
}
BENCHMARK(BM_DrawTextVsPixman)
    ->DenseRange(1, 4)
    ->ArgName("size")
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// ---- Fills ---------------------------------------------------------------

struct Box {
    int x, y, w, h;
};
// The pause box, the game-over box and the whole drawing area.
constexpr Box kBoxes[] = {{440, 320, 400, 80}, {380, 260, 520, 200}, {0, 0, 1280, 720}};

void BM_FillRectVsPixmanFill(benchmark::State& state) {
    Page page;
    const Box box = kBoxes[state.range(0)];
    measure_against(
        state, [&] { fill_rect(page.canvas(), box.x, box.y, box.w, box.h, kBoxFill); },
        [&] {
            pixman_fill(page.pixels(), kPagePixelsPerRow, 32, box.x, box.y, box.w, box.h, kBoxFill);
        });
    state.SetBytesProcessed(state.iterations() * box.w * box.h * 4);
}
BENCHMARK(BM_FillRectVsPixmanFill)
    ->DenseRange(0, 2)
    ->ArgName("box")
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
