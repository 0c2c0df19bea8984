// What is laid over the page by coverage: text in the built-in font and the
// logo, blended by the rule of blend_coverage with the blends of a colour
// over the base colour under it remembered from frame to frame.
#include "display/text.h"

#include <algorithm>

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

constexpr unsigned kFullCoverage = 255;

// ---- Blending -------------------------------------------------------------

// Finds the remembered blends of colour over base, or makes room for them.
using BlendPair = BlendMemo::Pair;
static_assert(sizeof BlendPair::known / sizeof(std::uint32_t) == kFullCoverage + 1);

BlendPair* blend_pair_for(BlendMemo& memo, std::uint32_t colour, std::uint32_t base) {
    for (BlendPair& pair : memo.pairs) {
        if (pair.in_use && pair.colour == colour && pair.base == base)
            return &pair;
    }
    BlendPair& pair = memo.pairs[memo.next];
    memo.next = (memo.next + 1) % BlendMemo::kPairs;
    pair = BlendPair{true, colour, base, {}};
    return &pair;
}

// Lays one colour over pixels by the rule of blend_coverage, for any
// coverage: 0 leaves the pixel as it is, 255 gives the colour. Pixels of the
// base colour the caller expects under most of what it draws are looked up
// in the memo; any other pixel is blended on its own.
class RememberingBlend {
  public:
    RememberingBlend(BlendMemo& memo, std::uint32_t colour, std::uint32_t base)
        : blend_(colour), memo_(blend_pair_for(memo, colour, base)) {}

    std::uint32_t over(std::uint32_t old, unsigned a) const {
        const std::uint32_t known = memo_->known[a];
        if (old == memo_->base && known != 0)
            return known;
        return learn(blend_, *memo_, old, a);
    }

  private:
    [[gnu::noinline]] static std::uint32_t learn(CoverageBlend blend, BlendPair& memo,
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
    BlendPair* const memo_;
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

LogoInk find_logo_ink(int step) {
    LogoInk ink;
    const int width = step == 1 ? kLogoWidth : kHalfLogoWidth;
    const int height = step == 1 ? kLogoHeight : kHalfLogoHeight;
    const auto shows = [step](int i, int j) {
        return logo_alpha(i * step, j * step) >= kLogoThreshold;
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

void draw_text(const Canvas& canvas, BlendMemo& memo, const char* text, int x, int y, int size,
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
        memo, colour, *canvas.at(clamp_to(x, area.left, area.right - 1), y + window.row_begin));
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

void draw_logo(const Canvas& canvas, BlendMemo& memo, int x, int y, int step) {
    const bool half = step == 2;
    const LogoInk& ink = logo_ink[half ? 1 : 0];
    const int height = half ? kHalfLogoHeight : kLogoHeight;
    const int sample = half ? 2 : 1;  // every sample-th image pixel
    const Rect& area = canvas.window;
    const int row_begin = std::max(0, area.top - y);
    const int row_end = std::min(height, area.bottom - y);
    if (row_begin >= row_end || area.left >= area.right)
        return;
    // The mask's corner is clear: it shows what the logo is laid over.
    const RememberingBlend blend(
        memo, kLogoTint, *canvas.at(std::clamp(x, area.left, area.right - 1), y + row_begin));
    for (int j = row_begin; j < row_end; ++j) {
        const int begin = std::max<int>(ink.begin[j], area.left - x);
        const int end = std::min<int>(ink.end[j], area.right - x);
        if (begin >= end)
            continue;
        std::uint32_t* pixel = canvas.at(x + begin, y + j);
        for (int i = begin; i < end; ++i, ++pixel) {
            const unsigned a = logo_alpha(i * sample, j * sample);
            *pixel = blend.over(*pixel, a >= kLogoThreshold ? a : 0);
        }
    }
}
