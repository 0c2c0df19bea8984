// Draws a frame with the game's own primitives that shows the whole built-in
// font at every size, the logo at full and half size, and a few blocks, and
// saves the drawing area as a PNG (docs/showcase.png), so that anyone can see
// what the drawing layer puts on screen.
//
//   make_showcase FILE.png
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "display/draw.h"
#include "display/font.h"
#include "display/palette.h"
#include "display/text.h"
#include "png_image.h"

namespace {

// The six coloured bricks, in the game's own colours.
constexpr std::uint32_t kBrickColours[] = {kBrickRed,   kBrickOrange, kBrickYellow,
                                           kBrickGreen, kBrickBlue,   kBrickViolet};

// Draws the printable set at one size, in as many lines as it needs.
int draw_character_set(const Canvas& canvas, BlendMemo& memo, int size, int x, int y) {
    std::string all;
    for (int code = kFirstGlyphCode; code <= kLastGlyphCode; ++code)
        all += static_cast<char>(code);
    const int per_line = (kAreaWidth - 2 * x) / kTextCellWidth[size - 1];
    for (std::size_t start = 0; start < all.size(); start += per_line) {
        draw_text(canvas, memo, all.substr(start, per_line).c_str(), x, y, size, kWhite);
        y += kTextCellHeight[size - 1];
    }
    return y;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_showcase FILE.png\n");
        return 2;
    }
    std::vector<std::uint32_t> page(static_cast<std::size_t>(kPagePixelsPerRow) * 1080, 0);
    const Canvas canvas = page_canvas(page.data());
    BlendMemo memo;
    fill_rect(canvas, 0, 0, kAreaWidth, kAreaHeight, kBackground);

    int y = 16;
    for (int size = 1; size <= kFontSizeCount; ++size) {
        char label[32];
        std::snprintf(label, sizeof label, "size %d", size);
        draw_text(canvas, memo, label, 16, y, 1, kGrey);
        y = draw_character_set(canvas, memo, size, 72, y) + 10;
    }

    // The logo at full and half size, on the background and on a panel.
    fill_rect(canvas, 0, y, kAreaWidth, 1, kGrey);
    y += 16;
    draw_logo(canvas, memo, 24, y, 1);
    draw_logo(canvas, memo, 150, y + 25, 2);
    fill_rect(canvas, 220, y, 250, 100, kBoxFill);
    draw_logo(canvas, memo, 232, y, 1);
    draw_logo(canvas, memo, 360, y + 25, 2);
    draw_text(canvas, memo, "VEMLO X", 28, y + 108, 2, kCyan);

    // Text in the game's colours, and bricks with text over them.
    draw_text(canvas, memo, "BRIKON", 500, y, 4, kYellow);
    draw_text(canvas, memo, "PRESS MIDDLE TO START", 500, y + 48, 3, kWhite);
    draw_text(canvas, memo, "SCORE 0012340  BEST 0098765  LIVES 3", 500, y + 86, 2, kWhite);
    draw_text(canvas, memo, "hold PLAY 3 s to exit", 500, y + 114, 1, kAmber);
    for (int i = 0; i < 6; ++i) {
        draw_block(canvas, 500 + i * 112, y + 140, 104, 32, kBrickColours[i]);
    }
    draw_text(canvas, memo, "blended over bricks: Wg0@", 510, y + 145, 3, kWhite);

    if (!png::save_area(argv[1], page.data()))
        return 1;
    return 0;
}
