#include "display/draw.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "display/font.h"
#include "display/logo.h"
#include "display/palette.h"

namespace {

// The logo's faintest fringe (alpha below the threshold) is left out so
// that it does not smear the background.
constexpr unsigned kLogoThreshold = 25;
// At half size the logo takes every second pixel from (0, 0): 51 x 50 of
// them; its last column and last row are not used.
constexpr int kHalfLogoWidth = kLogoWidth / 2;
constexpr int kHalfLogoHeight = kLogoHeight / 2;

// A block's bevel is two pixels wide on every side.

constexpr unsigned kFullCoverage = 255;

static_assert(sizeof(wchar_t) == sizeof(std::uint32_t), "a pixel fills as one wchar_t");

#if defined(__arm__)
// Fills with store-multiple instructions (below, with the copy).
void fill_pixels(std::uint32_t* to, int n, std::uint32_t colour);
#endif

// Stores colour into n pixels from p. On 32-bit ARM eight registers hold
// the colour and each store-multiple writes 32 bytes. Elsewhere a long run
// goes to the C library's wmemset (a pixel is one wchar_t here), which fills
// with the widest stores the processor has, chosen when the program starts;
// a short one is not worth the call. Runs of eight let the compiler use its
// widest stores without knowing n.
void store_run(std::uint32_t* p, int n, std::uint32_t colour) {
#if defined(__arm__)
    if (n >= 8) {
        fill_pixels(p, n, colour);
        return;
    }
#else
    constexpr int kLongRun = 64;
    if (n >= kLongRun) {
        std::wmemset(reinterpret_cast<wchar_t*>(p), static_cast<wchar_t>(colour),
                     static_cast<std::size_t>(n));
        return;
    }
#endif
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

// Clamps a 64-bit coordinate into low..high before it is narrowed, so that
// an edge beyond the int range (a block far below or right of the area)
// cannot wrap to a negative row or column.
int clamp_to(long long value, int low, int high) {
    return static_cast<int>(
        std::clamp(value, static_cast<long long>(low), static_cast<long long>(high)));
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

// ---- Blending -------------------------------------------------------------

// Text and the logo are nearly always laid over one flat colour (the
// background, a box, a capsule), and a frame uses a handful of colours. So
// the blends of a colour over such a base colour are remembered, per
// coverage, from call to call and frame to frame, and a pixel of the base
// colour costs one look-up. Only the main loop's thread draws.
struct BlendMemo {
    bool in_use = false;
    std::uint32_t colour = 0;
    std::uint32_t base = 0;
    std::uint32_t known[kFullCoverage + 1] = {};  // 0: not met yet (a blend is opaque)
};

// More than the pairs of colour and base colour one frame draws.
constexpr int kBlendMemoCount = 16;
BlendMemo blend_memos[kBlendMemoCount];
int next_blend_memo = 0;

BlendMemo* blend_memo_for(std::uint32_t colour, std::uint32_t base) {
    for (BlendMemo& memo : blend_memos) {
        if (memo.in_use && memo.colour == colour && memo.base == base)
            return &memo;
    }
    BlendMemo& memo = blend_memos[next_blend_memo];
    next_blend_memo = (next_blend_memo + 1) % kBlendMemoCount;
    memo = BlendMemo{true, colour, base, {}};
    return &memo;
}

// Lays one colour over pixels by the rule of blend_coverage, for any
// coverage: 0 leaves the pixel as it is, 255 gives the colour. Pixels of the
// base colour the caller expects under most of what it draws are looked up
// in the memo; any other pixel is blended on its own.
class RememberingBlend {
  public:
    RememberingBlend(std::uint32_t colour, std::uint32_t base)
        : blend_(colour), memo_(blend_memo_for(colour, base)) {}

    std::uint32_t over(std::uint32_t old, unsigned a) const {
        const std::uint32_t known = memo_->known[a];
        if (old == memo_->base && known != 0)
            return known;
        return learn(blend_, *memo_, old, a);
    }

  private:
    [[gnu::noinline]] static std::uint32_t learn(CoverageBlend blend, BlendMemo& memo,
                                                 std::uint32_t old, unsigned a) {
        // Full coverage gives exactly the colour by the rule itself, no
        // coverage the pixel as it was; only the rest needs the arithmetic.
        std::uint32_t result = old;
        if (a == kFullCoverage)
            result = blend.opaque_colour();
        else if (a != 0)
            result = blend.over(old, a);
        // A remembered 0 can only be a transparent black base left as it
        // is; it is simply found again.
        if (old == memo.base)
            memo.known[a] = result;
        return result;
    }

    const CoverageBlend blend_;
    BlendMemo* const memo_;
};

// ---- Text ----------------------------------------------------------------

// Where each glyph has ink: the rows from top to bottom - 1 hold coverage,
// and in row r only the columns begin[r] to end[r] - 1 do. Most of a cell is
// empty, so text touches nothing else. Found from the atlas once, when the
// program is loaded.
struct GlyphInk {
    std::uint8_t top = 0;
    std::uint8_t bottom = 0;  // top == bottom: no ink at all (the space)
    std::uint8_t begin[kTextCellHeight[kFontSizeCount - 1]] = {};
    std::uint8_t end[kTextCellHeight[kFontSizeCount - 1]] = {};
};

struct FontInk {
    GlyphInk glyphs[kFontSizeCount][kGlyphCount];
};

FontInk find_font_ink() {
    FontInk ink;
    for (int size = 1; size <= kFontSizeCount; ++size) {
        const int width = kTextCellWidth[size - 1];
        const int height = kTextCellHeight[size - 1];
        for (int code = kFirstGlyphCode; code <= kLastGlyphCode; ++code) {
            const std::uint8_t* coverage = glyph_coverage(size, code);
            GlyphInk& glyph = ink.glyphs[size - 1][code - kFirstGlyphCode];
            int top = height;
            int bottom = 0;
            for (int r = 0; r < height; ++r) {
                const std::uint8_t* row = coverage + r * width;
                int begin = 0;
                while (begin < width && row[begin] == 0)
                    ++begin;
                int end = width;
                while (end > begin && row[end - 1] == 0)
                    --end;
                glyph.begin[r] = static_cast<std::uint8_t>(begin);
                glyph.end[r] = static_cast<std::uint8_t>(end);
                if (begin < end) {
                    top = std::min(top, r);
                    bottom = r + 1;
                }
            }
            glyph.top = static_cast<std::uint8_t>(std::min(top, bottom));
            glyph.bottom = static_cast<std::uint8_t>(bottom);
        }
    }
    return ink;
}

const FontInk font_ink = find_font_ink();

const GlyphInk& glyph_ink(int size, int code) {
    return font_ink.glyphs[size - 1][code - kFirstGlyphCode];
}

// The part of a glyph cell that is drawn: rows row_begin..row_end-1 and
// columns column_begin..column_end-1 of the cell, already clipped to the
// canvas, with the cell's top-left pixel at (left, top).
struct CellWindow {
    int left, top;
    int row_begin, row_end;
    int column_begin, column_end;
};

void draw_glyph(const Canvas& canvas, const std::uint8_t* coverage, int width, const GlyphInk& ink,
                const CellWindow& window, const RememberingBlend& blend) {
    const int row_begin = std::max<int>(window.row_begin, ink.top);
    const int row_end = std::min<int>(window.row_end, ink.bottom);
    if (row_begin >= row_end)
        return;
    const int stride = canvas.stride;
    std::uint32_t* row = canvas.at(window.left, window.top + row_begin);
    for (int r = row_begin; r < row_end; ++r, row += stride) {
        const int begin = std::max<int>(window.column_begin, ink.begin[r]);
        const int end = std::min<int>(window.column_end, ink.end[r]);
        const std::uint8_t* cover = coverage + r * width + begin;
        std::uint32_t* pixel = row + begin;
        // Each pixel is read before it is written: the next row's are asked
        // for now, so that they have arrived by the time this row is done.
        __builtin_prefetch(pixel + stride, 1);
        for (int n = end - begin; n > 0; --n, ++cover, ++pixel)
            *pixel = blend.over(*pixel, *cover);
    }
}

// ---- The logo ------------------------------------------------------------

// Where the logo shows at each size: in row j only the columns begin[j] to
// end[j] - 1 hold an alpha at or above the threshold. Found from the mask
// once, when the program is loaded.
struct LogoInk {
    std::uint8_t begin[kLogoHeight] = {};
    std::uint8_t end[kLogoHeight] = {};
};

LogoInk find_logo_ink(int stride) {
    LogoInk ink;
    const int width = stride == 1 ? kLogoWidth : kHalfLogoWidth;
    const int height = stride == 1 ? kLogoHeight : kHalfLogoHeight;
    const auto shows = [stride](int i, int j) {
        return logo_alpha(i * stride, j * stride) >= kLogoThreshold;
    };
    for (int j = 0; j < height; ++j) {
        int begin = 0;
        while (begin < width && !shows(begin, j))
            ++begin;
        int end = width;
        while (end > begin && !shows(end - 1, j))
            --end;
        ink.begin[j] = static_cast<std::uint8_t>(begin);
        ink.end[j] = static_cast<std::uint8_t>(end);
    }
    return ink;
}

// Full size, half size.
const LogoInk logo_ink[2] = {find_logo_ink(1), find_logo_ink(2)};

}  // namespace

void fill_rect(const Canvas& canvas, int x, int y, int w, int h, std::uint32_t colour) {
    // Clipped in 64 bits, so that no position or size can overflow.
    const Rect& window = canvas.window;
    const int left = clamp_to(x, window.left, window.right);
    const int right = clamp_to(static_cast<long long>(x) + w, window.left, window.right);
    const int top = clamp_to(y, window.top, window.bottom);
    const int bottom = clamp_to(static_cast<long long>(y) + h, window.top, window.bottom);
    if (left >= right)
        return;
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

void draw_text(const Canvas& canvas, const char* text, int x, int y, int size,
               std::uint32_t colour) {
    // Callers pass sizes 1 to 4; anything else would read past the tables.
    if (size < 1 || size > kFontSizeCount)
        return;
    const Rect& area = canvas.window;
    const int width = kTextCellWidth[size - 1];
    const int height = kTextCellHeight[size - 1];
    // The rows of the line that lie in the canvas are the same for every cell.
    CellWindow window = {};
    window.top = y;
    window.row_begin = clamp_to(static_cast<long long>(area.top) - y, 0, height);
    window.row_end = clamp_to(static_cast<long long>(area.bottom) - y, 0, height);
    if (window.row_begin >= window.row_end || area.left >= area.right)
        return;
    // No glyph inks the top-left pixel of its cell: the first visible one
    // shows what the text is laid over.
    const RememberingBlend blend(
        colour, *canvas.at(clamp_to(x, area.left, area.right - 1), y + window.row_begin));
    // 64-bit pen: a long line far to the left cannot overflow it.
    long long pen = x;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0';
         ++p, pen += width) {
        if (pen >= area.right)
            break;  // this and every later cell lies right of the canvas
        if (*p < kFirstGlyphCode || *p > kLastGlyphCode || pen + width <= area.left)
            continue;
        window.left = static_cast<int>(pen);
        window.column_begin = clamp_to(area.left - pen, 0, width);
        window.column_end = clamp_to(area.right - pen, 0, width);
        draw_glyph(canvas, glyph_coverage(size, *p), width, glyph_ink(size, *p), window, blend);
    }
}

void draw_logo(const Canvas& canvas, int x, int y, int step) {
    const bool half = step == 2;
    const LogoInk& ink = logo_ink[half ? 1 : 0];
    const int height = half ? kHalfLogoHeight : kLogoHeight;
    const int stride = half ? 2 : 1;
    const Rect& area = canvas.window;
    const int row_begin = std::max(0, area.top - y);
    const int row_end = std::min(height, area.bottom - y);
    if (row_begin >= row_end || area.left >= area.right)
        return;
    // The mask's corner is clear: it shows what the logo is laid over.
    const RememberingBlend blend(
        kLogoTint, *canvas.at(std::clamp(x, area.left, area.right - 1), y + row_begin));
    for (int j = row_begin; j < row_end; ++j) {
        const int begin = std::max<int>(ink.begin[j], area.left - x);
        const int end = std::min<int>(ink.end[j], area.right - x);
        if (begin >= end)
            continue;
        std::uint32_t* pixel = canvas.at(x + begin, y + j);
        for (int i = begin; i < end; ++i, ++pixel) {
            const unsigned a = logo_alpha(i * stride, j * stride);
            *pixel = blend.over(*pixel, a >= kLogoThreshold ? a : 0);
        }
    }
}

#if defined(__arm__)

// Eight core registers move 32 bytes per load-multiple and store-multiple;
// with the floating-point unit every hard-float ARM core has, its sixteen
// 64-bit registers move 128 bytes per instruction.
namespace {

void copy_blocks_of_8(std::uint32_t*& to, const std::uint32_t*& from, int blocks) {
    asm volatile(
        "1:\n\t"
        "ldmia %[from]!, {r3, r4, r5, r6, r8, r9, r10, r12}\n\t"
        "stmia %[to]!, {r3, r4, r5, r6, r8, r9, r10, r12}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [from] "+r"(from), [blocks] "+r"(blocks)
        :
        : "r3", "r4", "r5", "r6", "r8", "r9", "r10", "r12", "cc", "memory");
}

void fill_blocks_of_8(std::uint32_t*& to, int blocks, std::uint32_t colour) {
    asm volatile(
        "mov r3, %[colour]\n\t"
        "mov r4, %[colour]\n\t"
        "mov r5, %[colour]\n\t"
        "mov r6, %[colour]\n\t"
        "mov r8, %[colour]\n\t"
        "mov r9, %[colour]\n\t"
        "mov r10, %[colour]\n\t"
        "mov r12, %[colour]\n\t"
        "1:\n\t"
        "stmia %[to]!, {r3, r4, r5, r6, r8, r9, r10, r12}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [blocks] "+r"(blocks)
        : [colour] "r"(colour)
        : "r3", "r4", "r5", "r6", "r8", "r9", "r10", "r12", "cc", "memory");
}

#if defined(__ARM_FP)
constexpr bool kWideRegisters = true;

void copy_blocks_of_32(std::uint32_t*& to, const std::uint32_t*& from, int blocks) {
    asm volatile(
        "1:\n\t"
        "vldmia %[from]!, {d0-d15}\n\t"
        "vstmia %[to]!, {d0-d15}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [from] "+r"(from), [blocks] "+r"(blocks)
        :
        : "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8", "d9", "d10", "d11", "d12", "d13",
          "d14", "d15", "cc", "memory");
}

void fill_blocks_of_32(std::uint32_t*& to, int blocks, std::uint32_t colour) {
    asm volatile(
        "vmov d0, %[colour], %[colour]\n\t"
        "vmov.f64 d1, d0\n\t"
        "vmov.f64 d2, d0\n\t"
        "vmov.f64 d3, d0\n\t"
        "vmov.f64 d4, d0\n\t"
        "vmov.f64 d5, d0\n\t"
        "vmov.f64 d6, d0\n\t"
        "vmov.f64 d7, d0\n\t"
        "vmov.f64 d8, d0\n\t"
        "vmov.f64 d9, d0\n\t"
        "vmov.f64 d10, d0\n\t"
        "vmov.f64 d11, d0\n\t"
        "vmov.f64 d12, d0\n\t"
        "vmov.f64 d13, d0\n\t"
        "vmov.f64 d14, d0\n\t"
        "vmov.f64 d15, d0\n\t"
        "1:\n\t"
        "vstmia %[to]!, {d0-d15}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [blocks] "+r"(blocks)
        : [colour] "r"(colour)
        : "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8", "d9", "d10", "d11", "d12", "d13",
          "d14", "d15", "cc", "memory");
}
#else
constexpr bool kWideRegisters = false;
void copy_blocks_of_32(std::uint32_t*&, const std::uint32_t*&, int) {}
void fill_blocks_of_32(std::uint32_t*&, int, std::uint32_t) {}
#endif

// Below this many pixels the sixteen registers are not worth loading.
constexpr int kWideRun = 64;

void fill_pixels(std::uint32_t* to, int n, std::uint32_t colour) {
    if (kWideRegisters && n >= kWideRun) {
        fill_blocks_of_32(to, n >> 5, colour);
        n &= 31;
    }
    if (n >= 8) {
        fill_blocks_of_8(to, n >> 3, colour);
        n &= 7;
    }
    for (int i = 0; i < n; ++i)
        to[i] = colour;
}

}  // namespace

void copy_pixels(std::uint32_t* to, const std::uint32_t* from, int n) {
    if (kWideRegisters && n >= kWideRun) {
        copy_blocks_of_32(to, from, n >> 5);
        n &= 31;
    }
    if (n >= 8) {
        copy_blocks_of_8(to, from, n >> 3);
        n &= 7;
    }
    for (int i = 0; i < n; ++i)
        to[i] = from[i];
}

#else

void copy_pixels(std::uint32_t* to, const std::uint32_t* from, int n) {
    if (n > 0)
        std::memcpy(to, from, static_cast<std::size_t>(n) * sizeof *to);
}

#endif
