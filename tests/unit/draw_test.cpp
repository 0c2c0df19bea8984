// The drawing primitives, drawn into a page the test owns: a whole
// 1920 x 1080 page whose pixels outside the drawing area hold a canary.
#include "display/draw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "display/font.h"
#include "display/logo.h"
#include "display/palette.h"
#include "display/text.h"

namespace {

constexpr std::uint32_t kCanary = 0x5ca1ab1e;
constexpr int kPageRows = 1080;

class DrawTest : public ::testing::Test {
  protected:
    DrawTest() : page_(static_cast<std::size_t>(kPagePixelsPerRow) * kPageRows, kCanary) {
        clear_area(0xff000000u);
    }

    // The page's drawing area, and what the texts and the logo drawn into
    // it remember of their blends.
    Canvas canvas() { return page_canvas(page_.data()); }
    BlendMemo memo_;

    std::uint32_t& at(int x, int y) { return page_[y * kPagePixelsPerRow + x]; }

    void clear_area(std::uint32_t colour) {
        for (int y = 0; y < kAreaHeight; ++y) {
            for (int x = 0; x < kAreaWidth; ++x)
                at(x, y) = colour;
        }
    }

    // Pixels of the page outside the drawing area that lost their canary.
    int canaries_lost() {
        int lost = 0;
        for (int y = 0; y < kPageRows; ++y) {
            for (int x = 0; x < kPagePixelsPerRow; ++x) {
                if ((x >= kAreaWidth || y >= kAreaHeight) && at(x, y) != kCanary)
                    ++lost;
            }
        }
        return lost;
    }

    // Area pixels that differ from background.
    int changed(std::uint32_t background) {
        int count = 0;
        for (int y = 0; y < kAreaHeight; ++y) {
            for (int x = 0; x < kAreaWidth; ++x)
                count += at(x, y) != background;
        }
        return count;
    }

    std::vector<std::uint32_t> page_;
};

TEST_F(DrawTest, FillRectWritesTheColourWordIntoExactlyItsRectangle) {
    fill_rect(canvas(), 10, 20, 3, 2, 0x12345678);  // alpha other than 0xff is stored as given
    for (int y = 18; y < 25; ++y) {
        for (int x = 8; x < 16; ++x) {
            const bool inside = x >= 10 && x < 13 && y >= 20 && y < 22;
            EXPECT_EQ(at(x, y), inside ? 0x12345678u : 0xff000000u) << x << "," << y;
        }
    }
    put_pixel(canvas(), 1279, 719, 0xff00ff00);
    EXPECT_EQ(at(1279, 719), 0xff00ff00u);
    EXPECT_EQ(changed(0xff000000u), 3 * 2 + 1);
}

TEST(BlendCoverage, FloorsEachProductSeparatelyAndIgnoresTheColoursAlpha) {
    struct Case {
        std::uint32_t old_pixel;
        std::uint32_t colour;
        unsigned coverage;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {0xff000000, 0xffffffff, 128, 0xff808080},  // floor(255 * 128 / 255) = 128
        {0xff000000, 0xffffffff, 255, 0xffffffff},
        {0xff123456, 0xffabcdef, 255, 0xffabcdef},  // full coverage: exactly the colour
        {0xff123456, 0xffabcdef, 0, 0xff123456},
        {0x00123456, 0x00abcdef, 255, 0xffabcdef},  // alpha of both ignored, result opaque
        // 1 * 127 / 255 and 1 * 128 / 255 both floor to 0; one floor of the
        // sum would give 1.
        {0xff010101, 0xff010101, 128, 0xff000000},
        {0xffffffff, 0xff000000, 128, 0xff7f7f7f},
        // Each channel on its own: red 200 -> 200*155/255 + 10*100/255 = 121 + 3.
        {0xffc80000, 0xff0a0000, 100, 0xff7c0000},
        {0xff0000c8, 0xff00000a, 100, 0xff00007c},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(blend_coverage(c.old_pixel, c.colour, c.coverage), c.expected)
            << std::hex << c.old_pixel << " " << c.colour << " " << std::dec << c.coverage;
    }
}

// What draw_block should leave at (px, py), from its five passes.
std::uint32_t block_pixel(int x, int y, int w, int h, std::uint32_t colour, int px, int py,
                          std::uint32_t background) {
    if (px < x || px >= x + w || py < y || py >= y + h)
        return background;
    std::uint32_t light = 0xff000000u;
    std::uint32_t dark = 0xff000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        const std::uint32_t c = (colour >> shift) & 0xff;
        light |= (c + c / 2 > 255 ? 255 : c + c / 2) << shift;
        dark |= (c / 2) << shift;
    }
    std::uint32_t pixel = colour;
    if (py < y + 2 || px < x + 2)
        pixel = light;
    if (py >= y + h - 2 || px >= x + w - 2)
        pixel = dark;
    return pixel;
}

TEST_F(DrawTest, BlockHasLightTopLeftAndDarkBottomRightEdges) {
    draw_block(canvas(), 100, 50, 12, 10, 0xff804020);
    const std::uint32_t fill = 0xff804020, light = 0xffc06030, dark = 0xff402010;
    // A 10-high block: 2 light rows, 6 rows of fill, 2 dark rows.
    const std::uint32_t middle_column[10] = {light, light, fill, fill, fill,
                                             fill,  fill,  fill, dark, dark};
    for (int r = 0; r < 10; ++r)
        EXPECT_EQ(at(106, 50 + r), middle_column[r]) << "row " << r;
    // Corners: top-left light, the other three dark.
    EXPECT_EQ(at(100, 50), light);
    EXPECT_EQ(at(101, 51), light);
    EXPECT_EQ(at(110, 50), dark);
    EXPECT_EQ(at(111, 51), dark);
    EXPECT_EQ(at(100, 58), dark);
    EXPECT_EQ(at(111, 59), dark);
    // Nothing around it.
    EXPECT_EQ(changed(0xff000000u), 12 * 10);

    draw_block(canvas(), 300, 300, 8, 8, 0xffffffff);  // white: white tile, grey edges
    EXPECT_EQ(at(300, 300), 0xffffffffu);
    EXPECT_EQ(at(303, 303), 0xffffffffu);
    EXPECT_EQ(at(307, 303), 0xff7f7f7fu);
    EXPECT_EQ(at(303, 307), 0xff7f7f7fu);

    draw_block(canvas(), 400, 400, 8, 8, 0x00f0f0f0);  // the fill keeps the word, edges are opaque
    EXPECT_EQ(at(404, 404), 0x00f0f0f0u);
    EXPECT_EQ(at(400, 404), 0xffffffffu);
    EXPECT_EQ(at(407, 404), 0xff787878u);
}

TEST_F(DrawTest, BlockPartlyOutsideDrawsOnlyItsInsidePart) {
    struct Case {
        int x, y, w, h;
    };
    const Case cases[] = {
        {-5, 100, 20, 12},    {-1, 100, 8, 8},        {-7, 100, 8, 8},     {-8, 100, 8, 8},
        {1275, 100, 20, 12},  {1279, 100, 8, 8},      {1280, 100, 8, 8},   {1272, 100, 8, 8},
        {600, -3, 20, 10},    {600, -9, 20, 10},      {600, 715, 20, 10},  {600, 719, 20, 10},
        {600, 720, 20, 10},   {-4, -4, 10, 10},       {1276, 716, 10, 10}, {-30, 300, 1400, 40},
        {100, -100, 30, 900}, {-2000000000, 5, 8, 8},
    };
    const std::uint32_t colour = 0xff3060c0;
    for (const Case& c : cases) {
        clear_area(0xff000000u);
        draw_block(canvas(), c.x, c.y, c.w, c.h, colour);
        int mismatches = 0;
        for (int py = 0; py < kAreaHeight; ++py) {
            for (int px = 0; px < kAreaWidth; ++px) {
                mismatches +=
                    at(px, py) != block_pixel(c.x, c.y, c.w, c.h, colour, px, py, 0xff000000u);
            }
        }
        EXPECT_EQ(mismatches, 0) << "block at " << c.x << "," << c.y << " " << c.w << "x" << c.h;
        EXPECT_EQ(canaries_lost(), 0) << "block at " << c.x << "," << c.y;
    }
}

TEST_F(DrawTest, BlockThinnerThanItsBevelStaysInsideItself) {
    draw_block(canvas(), 50, 50, 1, 1, 0xff804020);
    draw_block(canvas(), 60, 50, 3, 1, 0xff804020);
    draw_block(canvas(), 70, 50, 1, 3, 0xff804020);
    EXPECT_EQ(at(50, 50), 0xff402010u);  // dark wins
    EXPECT_EQ(changed(0xff000000u), 1 + 3 + 3);
}

// Draws the glyphs of text at (x, y) by hand, unclipped, into a w x h
// coverage image: what draw_text over black in white must show.
std::uint32_t expected_text_pixel(const std::string& text, int size, int cx, int cy) {
    const int w = kTextCellWidth[size - 1];
    const int h = kTextCellHeight[size - 1];
    if (cx < 0 || cy < 0 || cy >= h || cx >= w * static_cast<int>(text.size()))
        return 0xff000000u;
    const unsigned char code = static_cast<unsigned char>(text[cx / w]);
    if (code < 32 || code > 126)
        return 0xff000000u;
    const unsigned a = glyph_coverage(size, code)[cy * w + cx % w];
    return a == 0 ? 0xff000000u : 0xff000000u | a << 16 | a << 8 | a;
}

TEST_F(DrawTest, TextPlacesEveryGlyphAtItsCellWithTheAtlasCoverage) {
    std::string all;
    for (int code = 32; code <= 126; ++code)
        all += static_cast<char>(code);
    for (int size = 1; size <= 4; ++size) {
        clear_area(0xff000000u);
        // The whole set in two lines, so that it fits at size 4.
        const std::string first = all.substr(0, 48), second = all.substr(48);
        draw_text(canvas(), memo_, first.c_str(), 3, 100, size, 0xffffffff);
        draw_text(canvas(), memo_, second.c_str(), 3, 100 + kTextCellHeight[size - 1], size,
                  0xffffffff);
        int mismatches = 0;
        for (int py = 0; py < kAreaHeight; ++py) {
            for (int px = 0; px < kAreaWidth; ++px) {
                const int row = py - 100;
                const int line = row < kTextCellHeight[size - 1] ? 0 : 1;
                const std::uint32_t expected =
                    row < 0 ? 0xff000000u
                            : expected_text_pixel(line == 0 ? first : second, size, px - 3,
                                                  row - line * kTextCellHeight[size - 1]);
                mismatches += at(px, py) != expected;
            }
        }
        EXPECT_EQ(mismatches, 0) << "size " << size;
    }
}

TEST_F(DrawTest, TextLeavesUncoveredPixelsAloneAndWritesCoveredOnesOpaque) {
    clear_area(0x12345678u);  // a background with a recognisable alpha
    draw_text(canvas(), memo_, "W@g", 10, 10, 4, 0x00ff8000);
    int covered = 0;
    for (int r = 0; r < 42; ++r) {
        for (int c = 0; c < 78; ++c) {
            const unsigned a = glyph_coverage(4, "W@g"[c / 26])[r * 26 + c % 26];
            const std::uint32_t expected =
                a == 0 ? 0x12345678u : blend_coverage(0x12345678u, 0x00ff8000, a);
            EXPECT_EQ(at(10 + c, 10 + r), expected) << c << "," << r;
            covered += a != 0;
        }
    }
    EXPECT_GT(covered, 0);
    EXPECT_EQ(changed(0x12345678u), covered);
}

TEST_F(DrawTest, BytesOutsideThePrintableRangeLeaveABlankCell) {
    const char* const variants[] = {"A\nB",
                                    "A\x7f"
                                    "B",
                                    "A\xc8"
                                    "B",
                                    "A\x01"
                                    "B",
                                    "A\tB",
                                    "A\xff"
                                    "B"};
    std::vector<std::uint32_t> reference;
    draw_text(canvas(), memo_, "A B", 20, 20, 2, 0xffffffff);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 80; ++x)
            reference.push_back(at(x, y));
    }
    EXPECT_NE(at(20 + 2 * 13 + 6, 20 + 8), 0xff000000u);  // B sits two cells on
    for (const char* text : variants) {
        clear_area(0xff000000u);
        draw_text(canvas(), memo_, text, 20, 20, 2, 0xffffffff);
        int mismatches = 0;
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 80; ++x)
                mismatches += at(x, y) != reference[y * 80 + x];
        }
        EXPECT_EQ(mismatches, 0) << "byte "
                                 << static_cast<int>(static_cast<unsigned char>(text[1]));
    }
    clear_area(0xff000000u);
    draw_text(canvas(), memo_, "", 20, 20, 2, 0xffffffff);
    draw_text(canvas(), memo_, "AB", 20, 20, 0, 0xffffffff);  // no such size
    draw_text(canvas(), memo_, "AB", 20, 20, 5, 0xffffffff);
    EXPECT_EQ(changed(0xff000000u), 0);
}

// Text drawn where it is clipped must show exactly the pixels of the same
// text drawn wholly inside, shifted, and nothing else.
TEST_F(DrawTest, ClippedTextLosesExactlyThePixelsOutside) {
    struct Case {
        const char* text;
        int x, y, size;
        int inside_x, inside_y;  // where the same text is wholly visible
    };
    const Case cases[] = {
        {"Clipped gy|", -10, 100, 2, 200, 100},   // starts left of the area
        {"Clipped gy|", -100, 100, 2, 200, 100},  // first cells wholly outside
        {"WALL_@0", 1230, 300, 4, 600, 300},      // runs past x = 1279
        {"edge", 1279 - 6, 300, 1, 600, 300},     // one cell, its last column on 1279
        {"Drop gy|_", 400, 712, 3, 400, 300},     // cell reaches below y = 719
        {"Rise gy|_", 400, -20, 4, 400, 300},     // starts above the area
        {"Corner", -5, 715, 2, 300, 300},
        {"Fits gjpqy|_ HIGH", 30, 702, 1, 30, 300},  // size 1 at y = 702 loses nothing
    };
    for (const Case& c : cases) {
        clear_area(0xff000000u);
        draw_text(canvas(), memo_, c.text, c.inside_x, c.inside_y, c.size, 0xffe0c040);
        std::vector<std::uint32_t> inside(page_.begin(), page_.end());
        clear_area(0xff000000u);
        draw_text(canvas(), memo_, c.text, c.x, c.y, c.size, 0xffe0c040);
        int mismatches = 0;
        long shown = 0;
        for (int py = 0; py < kAreaHeight; ++py) {
            for (int px = 0; px < kAreaWidth; ++px) {
                const int sx = px - c.x + c.inside_x;
                const int sy = py - c.y + c.inside_y;
                const bool source_in = sx >= 0 && sx < kAreaWidth && sy >= 0 && sy < kAreaHeight;
                const std::uint32_t expected =
                    source_in ? inside[sy * kPagePixelsPerRow + sx] : 0xff000000u;
                mismatches += at(px, py) != expected;
                shown += at(px, py) != 0xff000000u;
            }
        }
        EXPECT_EQ(mismatches, 0) << c.text << " at " << c.x << "," << c.y;
        EXPECT_GT(shown, 0) << c.text;
        EXPECT_EQ(canaries_lost(), 0) << c.text;
    }
    // The size-1 line at y = 702 shows as many changed pixels as wholly inside.
    clear_area(0xff000000u);
    draw_text(canvas(), memo_, "Fits gjpqy|_ HIGH", 30, 702, 1, 0xffe0c040);
    const int at_bottom = changed(0xff000000u);
    clear_area(0xff000000u);
    draw_text(canvas(), memo_, "Fits gjpqy|_ HIGH", 30, 300, 1, 0xffe0c040);
    EXPECT_EQ(at_bottom, changed(0xff000000u));
}

TEST_F(DrawTest, LogoIsTheTintedMaskAtFullAndHalfSize) {
    constexpr std::uint32_t kUnder = 0xff102030;
    // The mask reaches its last column, so a half-size logo one column too
    // wide would show.
    int last_column = 0;
    for (int j = 0; j < kLogoHeight; j += 2)
        last_column += logo_alpha(kLogoWidth - 1, j) >= 25;
    ASSERT_GT(last_column, 0);

    struct Case {
        int step, width, height;
    };
    for (const Case c : {Case{1, 103, 100}, Case{2, 51, 50}}) {
        clear_area(kUnder);
        const int x = 500, y = 300;
        draw_logo(canvas(), memo_, x, y, c.step);
        int mismatches = 0, blended = 0, right_column = 0;
        for (int py = y - 5; py < y + 110; ++py) {
            for (int px = x - 5; px < x + 110; ++px) {
                const int i = px - x, j = py - y;
                std::uint32_t expected = kUnder;
                if (i >= 0 && j >= 0 && i < c.width && j < c.height) {
                    const unsigned a = logo_alpha(i * c.step, j * c.step);
                    if (a >= 25)
                        expected = blend_coverage(kUnder, kLogoTint, a);
                }
                mismatches += at(px, py) != expected;
                blended += expected != kUnder;
                right_column += i == c.width - 1 && expected != kUnder;
            }
        }
        EXPECT_EQ(mismatches, 0) << "step " << c.step;
        EXPECT_EQ(changed(kUnder), blended) << "step " << c.step;
        EXPECT_GT(right_column, 0) << "step " << c.step;  // the drawn width shows
    }
    // Alpha below 25 leaves the background alone; alpha 25 and up blends.
    clear_area(kUnder);
    draw_logo(canvas(), memo_, 0, 0, 1);
    int faint = 0;
    for (int j = 0; j < kLogoHeight; ++j) {
        for (int i = 0; i < kLogoWidth; ++i) {
            const unsigned a = logo_alpha(i, j);
            if (a > 0 && a < 25) {
                ++faint;
                EXPECT_EQ(at(i, j), kUnder) << i << "," << j;
            }
        }
    }
    EXPECT_GT(faint, 0);
}

// Drawing at and beyond every edge of the area never touches the rest of
// the page.
TEST_F(DrawTest, NothingOutsideTheDrawingAreaIsEverWritten) {
    fill_rect(canvas(), 0, 0, kAreaWidth, kAreaHeight, 0xff224466);
    fill_rect(canvas(), 1279, 0, 1, 720, 0xffffffff);
    fill_rect(canvas(), 0, 719, 1280, 1, 0xffffffff);
    put_pixel(canvas(), 0, 0, 0xffff0000);
    put_pixel(canvas(), 1279, 719, 0xffff0000);
    put_pixel(canvas(), 1279, 0, 0xffff0000);
    put_pixel(canvas(), 0, 719, 0xffff0000);
    draw_logo(canvas(), memo_, 0, 0, 1);
    draw_logo(canvas(), memo_, kAreaWidth - 103, kAreaHeight - 100, 1);
    draw_logo(canvas(), memo_, kAreaWidth - 51, kAreaHeight - 50, 2);
    draw_logo(canvas(), memo_, kAreaWidth - 51, 0, 2);
    const int edges[] = {-3000, -50, -27, -26, -9,   -8,   -7,   -1,   0,    1,
                         700,   702, 712, 719, 1250, 1272, 1273, 1279, 1280, 1300};
    for (const int e : edges) {
        for (int size = 1; size <= 4; ++size) {
            draw_text(canvas(), memo_, "Edge gy_|W@", e, 360, size, 0xffffffff);
            draw_text(canvas(), memo_, "Edge gy_|W@", 600, e, size, 0xffffffff);
            draw_text(canvas(), memo_, "Edge gy_|W@", e, e, size, 0xffffffff);
        }
        // A single pixel exactly at an edge, or beyond it, is left out.
        put_pixel(canvas(), e, 360, 0xff40c080);
        put_pixel(canvas(), 600, e, 0xff40c080);
        put_pixel(canvas(), e, e, 0xff40c080);
        draw_block(canvas(), e, 360, 9, 9, 0xffc08040);
        draw_block(canvas(), 600, e, 9, 9, 0xffc08040);
        draw_block(canvas(), e, e, 30, 30, 0xffc08040);
        draw_block(canvas(), e, 700 - e, 8, 8, 0xffc08040);
    }
    EXPECT_EQ(canaries_lost(), 0);
}

}  // namespace
