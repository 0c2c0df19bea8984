// The built-in font and the logo: the embedded tables against their own
// rules, and against the images in assets/ that people look at.
#include "display/font.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/logo.h"
#include "png_image.h"

namespace {

const std::string kAssets = std::string(VMX_SOURCE_DIR) + "/assets";

int cell_w(int size) {
    return kTextCellWidth[size - 1];
}
int cell_h(int size) {
    return kTextCellHeight[size - 1];
}

// The rows of a glyph with coverage of at least threshold: first and last,
// or -1 when there are none.
struct Rows {
    int first = -1;
    int last = -1;
};
Rows rows_with(int size, char code, unsigned threshold) {
    Rows rows;
    const std::uint8_t* glyph = glyph_coverage(size, code);
    for (int r = 0; r < cell_h(size); ++r) {
        for (int c = 0; c < cell_w(size); ++c) {
            if (glyph[r * cell_w(size) + c] >= threshold) {
                if (rows.first < 0)
                    rows.first = r;
                rows.last = r;
            }
        }
    }
    return rows;
}

// The game keeps each glyph cropped to its cell: everything the atlas file
// holds beyond the cell must be empty, and the cell must be what the game
// draws.
TEST(FontAtlas, SlotsHoldTheCellAndZerosAfterIt) {
    const std::string path = kAssets + "/font/atlas.bin";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr) << path;
    std::vector<std::uint8_t> atlas(kFontAtlasBytes + 1);
    const std::size_t read = std::fread(atlas.data(), 1, atlas.size(), file);
    std::fclose(file);
    ASSERT_EQ(read, static_cast<std::size_t>(kFontAtlasBytes)) << path;
    for (int size = 1; size <= kFontSizeCount; ++size) {
        for (int code = kFirstGlyphCode; code <= kLastGlyphCode; ++code) {
            const std::uint8_t* slot = atlas.data() + (size - 1) * 103740 + (code - 32) * 1092;
            const int cell = cell_w(size) * cell_h(size);
            EXPECT_EQ(std::memcmp(slot, glyph_coverage(size, code), cell), 0)
                << "size " << size << " code " << code;
            int trailing = 0;
            for (int k = cell; k < kGlyphSlotBytes; ++k)
                trailing += slot[k];
            EXPECT_EQ(trailing, 0) << "size " << size << " code " << code;
        }
    }
}

TEST(FontAtlas, EveryPrintableGlyphIsPresentAndSpaceIsEmpty) {
    for (int size = 1; size <= kFontSizeCount; ++size) {
        EXPECT_EQ(rows_with(size, ' ', 1).first, -1) << "size " << size;
        for (int code = kFirstGlyphCode + 1; code <= kLastGlyphCode; ++code) {
            // Every glyph has solid ink somewhere, not only a faint smudge.
            EXPECT_GE(rows_with(size, static_cast<char>(code), 160).first, 0)
                << "size " << size << " '" << static_cast<char>(code) << "'";
        }
    }
}

TEST(FontAtlas, CapitalsAndDescendersSitOnTheirRows) {
    for (int size = 1; size <= kFontSizeCount; ++size) {
        const int cap_bottom = kCapitalBottomRow[size - 1];
        const int descender = kDescenderRow[size - 1];
        // Letters with flat tops and bottoms fill exactly the capital rows.
        for (const char* p = "EFHIKLMNTXZ"; *p != '\0'; ++p) {
            const Rows solid = rows_with(size, *p, 128);
            const Rows any = rows_with(size, *p, 1);
            EXPECT_EQ(solid.first, kCapitalTopRow) << "size " << size << " '" << *p << "'";
            EXPECT_EQ(solid.last, cap_bottom) << "size " << size << " '" << *p << "'";
            EXPECT_EQ(any.first, kCapitalTopRow) << "size " << size << " '" << *p << "'";
            EXPECT_EQ(any.last, cap_bottom) << "size " << size << " '" << *p << "'";
        }
        // Every other capital but Q (whose tail descends) keeps within them,
        // round ones overshooting by at most a faint row.
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (letter == 'Q')
                continue;
            const Rows solid = rows_with(size, letter, 128);
            const Rows any = rows_with(size, letter, 1);
            EXPECT_EQ(solid.first, kCapitalTopRow) << "size " << size << " '" << letter << "'";
            EXPECT_EQ(solid.last, cap_bottom) << "size " << size << " '" << letter << "'";
            EXPECT_GE(any.first, kCapitalTopRow - 1) << "size " << size << " '" << letter << "'";
            EXPECT_LE(any.last, cap_bottom + 1) << "size " << size << " '" << letter << "'";
        }
        // Descenders reach the descender row and no further.
        for (const char* p = "gjpqy"; *p != '\0'; ++p) {
            const Rows any = rows_with(size, *p, 1);
            EXPECT_EQ(any.last, descender) << "size " << size << " '" << *p << "'";
            EXPECT_GE(rows_with(size, *p, 128).last, descender - 1)
                << "size " << size << " '" << *p << "'";
        }
        // Letters without descenders stand on the baseline.
        for (const char* p = "acemnorsuvwxz"; *p != '\0'; ++p) {
            EXPECT_LE(rows_with(size, *p, 1).last, cap_bottom + 1)
                << "size " << size << " '" << *p << "'";
            EXPECT_EQ(rows_with(size, *p, 128).last, cap_bottom)
                << "size " << size << " '" << *p << "'";
        }
    }
}

TEST(FontAtlas, CommittedImagesShowTheEmbeddedGlyphs) {
    for (int size = 1; size <= kFontSizeCount; ++size) {
        const std::string path = kAssets + "/font/size" + std::to_string(size) + ".png";
        png::Image image;
        ASSERT_TRUE(png::read(path.c_str(), 1, image)) << path;
        ASSERT_EQ(image.width, 16 * cell_w(size)) << path;
        ASSERT_EQ(image.height, 6 * cell_h(size)) << path;
        int mismatches = 0;
        for (int index = 0; index < 96; ++index) {
            const int left = index % 16 * cell_w(size);
            const int top = index / 16 * cell_h(size);
            for (int r = 0; r < cell_h(size); ++r) {
                for (int c = 0; c < cell_w(size); ++c) {
                    const std::uint8_t shown = image.pixels[(top + r) * image.width + left + c];
                    // The 96th cell has no glyph and stays black.
                    const std::uint8_t embedded =
                        index < kGlyphCount ? glyph_coverage(size, 32 + index)[r * cell_w(size) + c]
                                            : 0;
                    mismatches += shown != embedded;
                }
            }
        }
        EXPECT_EQ(mismatches, 0) << path;
    }
}

TEST(LogoMask, OnlyAlphaCarriesASoftEdgedMark) {
    EXPECT_EQ(sizeof LogoMask, 41200u);
    int colour_bytes = 0, clear = 0, solid = 0, soft = 0;
    for (int k = 0; k < kLogoWidth * kLogoHeight; ++k) {
        colour_bytes +=
            LogoMask[4 * k] != 0 || LogoMask[4 * k + 1] != 0 || LogoMask[4 * k + 2] != 0;
        const std::uint8_t a = LogoMask[4 * k + 3];
        clear += a == 0;
        solid += a == 255;
        soft += a > 0 && a < 255;
    }
    EXPECT_EQ(colour_bytes, 0);
    // Light on transparent: mostly clear, a solid core, anti-aliased edges.
    EXPECT_GT(clear, kLogoWidth * kLogoHeight / 3);
    EXPECT_GT(solid, 500);
    EXPECT_GT(soft, 500);
}

TEST(LogoMask, CommittedImageShowsTheEmbeddedMask) {
    const std::string path = kAssets + "/logo/logo.png";
    png::Image image;
    ASSERT_TRUE(png::read(path.c_str(), 4, image)) << path;
    ASSERT_EQ(image.width, kLogoWidth);
    ASSERT_EQ(image.height, kLogoHeight);
    int mismatches = 0;
    for (int j = 0; j < kLogoHeight; ++j) {
        for (int i = 0; i < kLogoWidth; ++i) {
            mismatches += image.pixels[(j * kLogoWidth + i) * 4 + 3] != logo_alpha(i, j);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
