#pragma once
// The built-in font: an anti-aliased, bold, monospaced face pre-rendered in
// four sizes, so that text costs no scaling or rasterising at run time.
//
// The atlas file, assets/font/atlas.bin, holds for sizes 1 to 4 in order 95
// glyph slots for the codes 32 (space) to 126 ('~'). A glyph is w x h bytes
// of 8-bit coverage (0 = background, 255 = full colour), row-major, top row
// first, w x h being its size's cell; each slot is as large as the largest
// cell, and the bytes after w x h in a slot are zero. FontAtlas, the table
// built from it when the game is compiled, keeps only each glyph's w x h
// bytes, the glyphs of a size one after another.
#include <cstdint>

constexpr int kFontSizeCount = 4;
constexpr int kFirstGlyphCode = 32;
constexpr int kLastGlyphCode = 126;
constexpr int kGlyphCount = kLastGlyphCode - kFirstGlyphCode + 1;
constexpr int kGlyphSlotBytes = 26 * 42;
constexpr int kFontSizeBytes = kGlyphCount * kGlyphSlotBytes;
constexpr int kFontAtlasBytes = kFontSizeCount * kFontSizeBytes;  // the file
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

// Bytes of one glyph of a size, and where the glyphs of each size begin in
// FontAtlas.
constexpr int glyph_bytes(int size) {
    return kTextCellWidth[size - 1] * kTextCellHeight[size - 1];
}
constexpr int kFontSizeStart[kFontSizeCount + 1] = {
    0, kGlyphCount* glyph_bytes(1), kGlyphCount*(glyph_bytes(1) + glyph_bytes(2)),
    kGlyphCount*(glyph_bytes(1) + glyph_bytes(2) + glyph_bytes(3)),
    kGlyphCount*(glyph_bytes(1) + glyph_bytes(2) + glyph_bytes(3) + glyph_bytes(4))};
constexpr int kFontTableBytes = kFontSizeStart[kFontSizeCount];
static_assert(kFontTableBytes == 194845);

extern const std::uint8_t FontAtlas[kFontTableBytes];

// The coverage of a printable code (32..126) in a size (1..4).
inline const std::uint8_t* glyph_coverage(int size, int code) {
    return FontAtlas + kFontSizeStart[size - 1] + (code - kFirstGlyphCode) * glyph_bytes(size);
}
