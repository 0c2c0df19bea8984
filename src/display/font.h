#pragma once
// The built-in font: an anti-aliased, bold, monospaced face pre-rendered in
// four sizes, so that text costs no scaling or rasterising at run time.
//
// FontAtlas holds, for sizes 1 to 4 in order, 95 glyph slots for the codes
// 32 (space) to 126 ('~'). A glyph is w x h bytes of 8-bit coverage
// (0 = background, 255 = full colour), row-major, top row first; each slot is
// as large as the largest glyph, and the bytes after w x h in a slot are zero.
// The table is built from assets/font/atlas.bin when the game is compiled.
#include <cstdint>

constexpr int kFontSizeCount = 4;
constexpr int kFirstGlyphCode = 32;
constexpr int kLastGlyphCode = 126;
constexpr int kGlyphCount = kLastGlyphCode - kFirstGlyphCode + 1;
constexpr int kGlyphSlotBytes = 26 * 42;
constexpr int kFontSizeBytes = kGlyphCount * kGlyphSlotBytes;
constexpr int kFontAtlasBytes = kFontSizeCount * kFontSizeBytes;
static_assert(kFontAtlasBytes == 414960);

// The glyph cell of each size, indexed by size - 1. Text advances by exactly
// the cell width per character.
constexpr std::uint8_t kTextCellWidth[kFontSizeCount] = {7, 13, 19, 26};
constexpr std::uint8_t kTextCellHeight[kFontSizeCount] = {12, 22, 31, 42};

// Where the letters sit in a cell, indexed by size - 1: capitals fill rows
// kCapitalTopRow to kCapitalBottomRow, and descenders (g, j, p, q, y) reach
// down to kDescenderRow. Screens line texts up by these rows.
constexpr int kCapitalTopRow = 1;
constexpr std::uint8_t kCapitalBottomRow[kFontSizeCount] = {8, 15, 22, 30};
constexpr std::uint8_t kDescenderRow[kFontSizeCount] = {10, 20, 29, 40};

extern const std::uint8_t FontAtlas[kFontAtlasBytes];

// The coverage of a printable code (32..126) in a size (1..4).
inline const std::uint8_t* glyph_coverage(int size, int code) {
    return FontAtlas + (size - 1) * kFontSizeBytes + (code - kFirstGlyphCode) * kGlyphSlotBytes;
}
