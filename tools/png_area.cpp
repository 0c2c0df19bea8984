// What stands apart from the PNG coding itself (the drawing area of a page
// as an image, an image written whole), so that a front end with a writer
// of its own (the web page) shares it.
#include "png_image.h"

namespace png {

bool write(const char* path, const Image& image) {
    return write(path, image.pixels.data(), image.width, image.height, image.channels,
                 static_cast<std::size_t>(image.width) * image.channels);
}

Image capture_area(const std::uint32_t* origin, std::size_t row_pixels, int width, int height) {
    Image image;
    image.width = width;
    image.height = height;
    image.channels = 3;
    image.pixels.resize(static_cast<std::size_t>(width) * height * 3);
    std::uint8_t* out = image.pixels.data();
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = origin + y * row_pixels;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = row[x];
            *out++ = static_cast<std::uint8_t>(pixel >> 16);
            *out++ = static_cast<std::uint8_t>(pixel >> 8);
            *out++ = static_cast<std::uint8_t>(pixel);
        }
    }
    return image;
}

bool save_area(const char* path, const std::uint32_t* origin, std::size_t row_pixels, int width,
               int height) {
    return write(path, capture_area(origin, row_pixels, width, height));
}

}  // namespace png
