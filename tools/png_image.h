#pragma once
// A small PNG reader and writer for tests and tools (never linked into the
// game): asset generators write their images with it, tests compare frames
// with it, and anyone can save what a page shows and look at it.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace png {

// 8-bit images: 1 channel grey, 2 grey + alpha, 3 RGB, 4 RGBA.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<std::uint8_t> pixels;  // row-major, width * channels bytes per row
};

// Writes an 8-bit PNG from rows that lie stride bytes apart. False on any
// failure (the reason goes to standard error).
bool write(const char* path, const std::uint8_t* pixels, int width, int height, int channels,
           std::size_t stride);
bool write(const char* path, const Image& image);

// Reads a PNG, converted to the given number of channels. False on failure.
bool read(const char* path, int channels, Image& out);

// The drawing area as an RGB image: width x height pixels 0xAARRGGBB read
// from rows row_pixels words apart (the page's 1920).
Image capture_area(const std::uint32_t* origin, std::size_t row_pixels = 1920, int width = 1280,
                   int height = 720);

// Saves the drawing area of a page (see capture_area) as an RGB PNG.
bool save_area(const char* path, const std::uint32_t* origin, std::size_t row_pixels = 1920,
               int width = 1280, int height = 720);

}  // namespace png
