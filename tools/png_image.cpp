#include "png_image.h"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace png {
namespace {

png_uint_32 format_for(int channels) {
    switch (channels) {
        case 1:
            return PNG_FORMAT_GRAY;
        case 2:
            return PNG_FORMAT_GA;
        case 3:
            return PNG_FORMAT_RGB;
        case 4:
            return PNG_FORMAT_RGBA;
        default:
            return 0xffffffffu;
    }
}

}  // namespace

bool write(const char* path, const std::uint8_t* pixels, int width, int height, int channels,
           std::size_t stride) {
    const png_uint_32 format = format_for(channels);
    if (format == 0xffffffffu || width <= 0 || height <= 0 ||
        stride < static_cast<std::size_t>(width) * channels) {
        std::fprintf(stderr, "png: cannot write %s: bad image shape\n", path);
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    if (!png_image_write_to_file(&image, path, 0, pixels, static_cast<png_int_32>(stride),
                                 nullptr)) {
        std::fprintf(stderr, "png: cannot write %s: %s\n", path, image.message);
        png_image_free(&image);
        return false;
    }
    return true;
}

bool read(const char* path, int channels, Image& out) {
    const png_uint_32 format = format_for(channels);
    if (format == 0xffffffffu)
        return false;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) {
        std::fprintf(stderr, "png: cannot read %s: %s\n", path, image.message);
        png_image_free(&image);
        return false;
    }
    image.format = format;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.channels = channels;
    out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "png: cannot read %s: %s\n", path, image.message);
        png_image_free(&image);
        out = Image{};
        return false;
    }
    return true;
}

}  // namespace png
