// The drawing layer's fast blending against the rule it must follow
// exactly, blend_coverage: the three-lane blend (with its division by 255
// done in adds and shifts) for every input, and text and the logo, whose
// blends are remembered per colour and base colour, over backgrounds that
// are not flat, over transparent black and in more colour pairs than are
// remembered at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "display/draw.h"
#include "display/font.h"
#include "display/logo.h"
#include "display/palette.h"
#include "display/text.h"

namespace {

// The three channels of a pixel made from one value v so that, as v runs
// over 0..255, each channel (and the unused alpha) runs over all of 0..255
// too, each in its own order.
constexpr std::uint32_t spread_value(unsigned v) {
    const unsigned blue = v;
    const unsigned green = 255 - v;
    const unsigned red = v ^ 0xa5u;
    const unsigned alpha = (v * 37u + 11u) & 0xffu;
    return alpha << 24 | red << 16 | green << 8 | blue;
}

TEST(CoverageBlend, EqualsTheReferenceBlendForEveryChannelValueAndCoverage) {
    long mismatches = 0;
    for (unsigned a = 0; a <= 255; ++a) {
        for (unsigned c = 0; c <= 255; ++c) {
            const std::uint32_t colour = spread_value(c * 7u & 0xffu) ^ 0x00102030u;
            const CoverageBlend blend(colour);
            for (unsigned o = 0; o <= 255; ++o) {
                const std::uint32_t old_pixel = spread_value(o);
                const std::uint32_t want = blend_coverage(old_pixel, colour, a);
                if (blend.over(old_pixel, a) != want) {
                    if (++mismatches <= 5)
                        ADD_FAILURE() << std::hex << old_pixel << " " << colour << " " << a;
                }
                if (a == 255 && blend.opaque_colour() != want)
                    ++mismatches;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

constexpr int kPageRows = 1080;

class BlendDrawing : public ::testing::Test {
  protected:
    BlendDrawing() : page_(static_cast<std::size_t>(kPagePixelsPerRow) * kPageRows, 0) {}

    // The page's drawing area, and what the texts and the logo drawn into
    // it remember of their blends.
    Canvas canvas() { return page_canvas(page_.data()); }
    BlendMemo memo_;

    void fill_area(std::uint32_t colour) {
        for (int y = 0; y < kAreaHeight; ++y) {
            for (int x = 0; x < kAreaWidth; ++x)
                page_[y * kPagePixelsPerRow + x] = colour;
        }
    }

    // A different pixel value almost everywhere, alpha included.
    void fill_area_with_noise() {
        std::uint32_t state = 12345;
        for (int y = 0; y < kAreaHeight; ++y) {
            for (int x = 0; x < kAreaWidth; ++x) {
                state = state * 1664525u + 1013904223u;
                page_[y * kPagePixelsPerRow + x] = state;
            }
        }
    }

    // draw_text by the letter of the rule, into a copy of the page.
    static void reference_text(std::vector<std::uint32_t>& page, const std::string& text, int x,
                               int y, int size, std::uint32_t colour) {
        const int w = kTextCellWidth[size - 1];
        const int h = kTextCellHeight[size - 1];
        for (std::size_t i = 0; i < text.size(); ++i) {
            const unsigned char code = static_cast<unsigned char>(text[i]);
            if (code < kFirstGlyphCode || code > kLastGlyphCode)
                continue;
            const std::uint8_t* coverage = glyph_coverage(size, code);
            for (int r = 0; r < h; ++r) {
                for (int c = 0; c < w; ++c) {
                    const unsigned a = coverage[r * w + c];
                    const int px = x + static_cast<int>(i) * w + c;
                    const int py = y + r;
                    if (a == 0 || px < 0 || px >= kAreaWidth || py < 0 || py >= kAreaHeight)
                        continue;
                    std::uint32_t& pixel = page[py * kPagePixelsPerRow + px];
                    pixel = blend_coverage(pixel, colour, a);
                }
            }
        }
    }

    static void reference_logo(std::vector<std::uint32_t>& page, int x, int y, int step) {
        const int width = step == 1 ? kLogoWidth : kLogoWidth / 2;
        const int height = step == 1 ? kLogoHeight : kLogoHeight / 2;
        for (int j = 0; j < height; ++j) {
            for (int i = 0; i < width; ++i) {
                const unsigned a = logo_alpha(i * step, j * step);
                std::uint32_t& pixel = page[(y + j) * kPagePixelsPerRow + x + i];
                if (a >= 25)
                    pixel = blend_coverage(pixel, kLogoTint, a);
            }
        }
    }

    long differences(const std::vector<std::uint32_t>& want) const {
        long count = 0;
        for (std::size_t i = 0; i < page_.size(); ++i)
            count += page_[i] != want[i];
        return count;
    }

    std::vector<std::uint32_t> page_;
};

TEST_F(BlendDrawing, TextFollowsTheRuleOverAnyBackground) {
    const std::string text = "Blend gy|_ W@ 0123";
    struct Case {
        const char* what;
        bool noise;
        std::uint32_t flat;  // the background, unless noise
        bool odd_corner;     // the first cell's top-left pixel differs from the rest
        std::uint32_t corner;
        bool noisy_first_cell = false;  // all but its top-left pixel
    };
    const Case cases[] = {
        {"noise", true, 0, false, 0},
        {"flat background", false, kBackground, false, 0},
        {"transparent black", false, 0x00000000, false, 0},
        {"another colour at the first cell's corner", false, kBoxFill, true, kFrameCyan},
        {"transparent black at the first cell's corner", false, kBoxFill, true, 0},
        {"noise under the first cell only", false, kBackground, false, 0, true},
    };
    for (const Case& c : cases) {
        for (int size = 1; size <= kFontSizeCount; ++size) {
            const int x = 37;
            const int y = 200;
            if (c.noise)
                fill_area_with_noise();
            else
                fill_area(c.flat);
            if (c.odd_corner)
                page_[y * kPagePixelsPerRow + x] = c.corner;
            if (c.noisy_first_cell) {
                std::uint32_t state = 99;
                for (int r = 0; r < kTextCellHeight[size - 1]; ++r) {
                    for (int col = r == 0 ? 1 : 0; col < kTextCellWidth[size - 1]; ++col) {
                        state = state * 1664525u + 1013904223u;
                        page_[(y + r) * kPagePixelsPerRow + x + col] = state;
                    }
                }
            }
            std::vector<std::uint32_t> want = page_;
            // Twice over: the second time the remembered blends are used.
            for (int pass = 0; pass < 2; ++pass) {
                reference_text(want, text, x, y + 50 * pass, size, kYellow);
                draw_text(canvas(), memo_, text.c_str(), x, y + 50 * pass, size, kYellow);
            }
            EXPECT_EQ(differences(want), 0) << c.what << ", size " << size;
        }
    }
}

TEST_F(BlendDrawing, TextFollowsTheRuleInMoreColourPairsThanAreRemembered) {
    fill_area(kBackground);
    // Three base colours side by side, forty text colours over each, and the
    // first ones again after the others have crowded them out.
    const std::uint32_t bases[] = {kBackground, kBoxFill, kCapsuleRed};
    for (int b = 0; b < 3; ++b) {
        for (int y = 0; y < kAreaHeight; ++y) {
            for (int x = 400 * b; x < 400 * b + 400; ++x)
                page_[y * kPagePixelsPerRow + x] = bases[b];
        }
    }
    std::vector<std::uint32_t> want = page_;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 40; ++i) {
            const std::uint32_t colour = 0xff000000u | (0x3a6ae8u * (i + 1) + 0x1f0f07u * round);
            for (int b = 0; b < 3; ++b) {
                const int x = 400 * b + 10 + 90 * (i % 4);
                const int y = 10 + 17 * (i / 4) + 350 * round;
                reference_text(want, "AgW8", x, y, 1 + i % 2, colour);
                draw_text(canvas(), memo_, "AgW8", x, y, 1 + i % 2, colour);
            }
        }
    }
    EXPECT_EQ(differences(want), 0);
}

TEST_F(BlendDrawing, LogoFollowsTheRuleOverAnyBackground) {
    for (const bool noise : {true, false}) {
        for (const int step : {1, 2}) {
            if (noise)
                fill_area_with_noise();
            else
                fill_area(kBackground);
            page_[300 * kPagePixelsPerRow + 500] = 0xff808080;  // a star at its corner
            std::vector<std::uint32_t> want = page_;
            reference_logo(want, 500, 300, step);
            reference_logo(want, 800, 100, step);
            draw_logo(canvas(), memo_, 500, 300, step);
            draw_logo(canvas(), memo_, 800, 100, step);
            EXPECT_EQ(differences(want), 0) << (noise ? "noise" : "flat") << ", step " << step;
        }
    }
}

}  // namespace
