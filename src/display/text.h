#pragma once
// What is laid over the page by coverage: text in the built-in font and the
// logo, and the blend they are drawn with.
#include <cstdint>

#include "display/draw.h"

// Text and the logo are nearly always laid over one flat colour (the
// background, a box, a capsule), and a frame uses a handful of colours. So
// the blends of a colour over such a base colour are remembered, per
// coverage, from call to call and frame to frame, and a pixel of the base
// colour costs one look-up. The caller keeps the memory and hands it to
// every text and logo it draws; the display keeps the game's.
struct BlendMemo {
    struct Pair {
        bool in_use = false;
        std::uint32_t colour = 0;
        std::uint32_t base = 0;
        std::uint32_t known[256] = {};  // by coverage; 0: not met yet (a blend is opaque)
    };
    // More than the pairs of colour and base colour one frame draws.
    static constexpr int kPairs = 16;
    Pair pairs[kPairs];
    int next = 0;  // the pair to be replaced next when none matches
};

// A line of text in the built-in font, size 1 to 4, with the top-left of its
// first cell at (x, y). Every byte advances by the cell width; bytes outside
// 32..126 leave their cell blank. There is no line breaking.
void draw_text(const Canvas& canvas, BlendMemo& memo, const char* text, int x, int y, int size,
               std::uint32_t colour);

// The logo tinted cold white: step 1 is full size (103 x 100), step 2 half
// size (51 x 50, every second image pixel).
void draw_logo(const Canvas& canvas, BlendMemo& memo, int x, int y, int step);

// Lays colour over old with coverage a (0..255), channel by channel for blue,
// green and red, flooring each product separately, so that a = 255 gives
// exactly the colour. The result is opaque; the colour's own alpha is not
// used. This is the rule text and the logo are drawn by; CoverageBlend below
// is how the drawing layer computes it.
constexpr std::uint32_t blend_coverage(std::uint32_t old, std::uint32_t colour, unsigned a) {
    const unsigned keep = 255 - a;
    std::uint32_t result = 0xff000000u;
    for (unsigned shift = 0; shift <= 16; shift += 8) {
        const unsigned o = (old >> shift) & 0xffu;
        const unsigned c = (colour >> shift) & 0xffu;
        result |= (o * keep / 255 + c * a / 255) << shift;
    }
    return result;
}

// blend_coverage of one colour over many pixels, three channels at a time:
// a pixel's blue, red and green sit in 16-bit lanes of one 64-bit word (bits
// 0, 16 and 32), so one multiply scales all three, and each lane's product
// v (at most 255 * 255) is divided by 255 with adds and shifts only:
// floor(v / 255) = (v + 1 + ((v + 1) >> 8)) >> 8, which never carries out of
// its lane. A test compares it with blend_coverage for every colour value,
// pixel value and coverage.
class CoverageBlend {
  public:
    constexpr explicit CoverageBlend(std::uint32_t colour)
        : colour_lanes_(spread(colour)), opaque_colour_(colour | 0xff000000u) {}

    // What full coverage (a = 255) gives over any pixel.
    constexpr std::uint32_t opaque_colour() const { return opaque_colour_; }

    constexpr std::uint32_t over(std::uint32_t old, unsigned a) const {
        return gather(divide_lanes_by_255(spread(old) * (255 - a)) +
                      divide_lanes_by_255(colour_lanes_ * a));
    }

  private:
    static constexpr std::uint64_t kLaneOnes = 0x0001000100010001u;
    static constexpr std::uint64_t kLaneLowBytes = 0x00ff00ff00ff00ffu;

    static constexpr std::uint64_t spread(std::uint32_t pixel) {
        return (pixel & 0x00ff00ffu) | (static_cast<std::uint64_t>(pixel & 0x0000ff00u) << 24);
    }
    static constexpr std::uint64_t divide_lanes_by_255(std::uint64_t lanes) {
        const std::uint64_t t = lanes + kLaneOnes;
        return ((t + ((t >> 8) & kLaneLowBytes)) >> 8) & kLaneLowBytes;
    }
    static constexpr std::uint32_t gather(std::uint64_t lanes) {
        return 0xff000000u | (static_cast<std::uint32_t>(lanes | lanes >> 24) & 0x00ffffffu);
    }

    std::uint64_t colour_lanes_;
    std::uint32_t opaque_colour_;
};
