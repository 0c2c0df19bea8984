#pragma once
// The game's mark: 103 x 100 pixels in the framebuffer's byte order (blue,
// green, red, alpha), of which only alpha carries the image; the colour bytes
// are zero. draw_logo tints it. Built from assets/logo/logo.bin when the game
// is compiled.
#include <cstdint>

constexpr int kLogoWidth = 103;
constexpr int kLogoHeight = 100;
constexpr int kLogoBytes = kLogoWidth * kLogoHeight * 4;
static_assert(kLogoBytes == 41200);

extern const std::uint8_t LogoMask[kLogoBytes];

// The alpha of image pixel (i, j).
inline std::uint8_t logo_alpha(int i, int j) {
    return LogoMask[(j * kLogoWidth + i) * 4 + 3];
}
