// The PNG writer of the web build, which has no zlib: the image data goes
// into the file uncompressed (deflate's stored blocks), so a screenshot is
// larger than the desktop's but decodes to the same pixels.
#include <cstdio>

#include "png_image.h"

namespace png {
namespace {

constexpr std::size_t kStoredBlockMax = 65535;

std::uint32_t crc_step(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void put_chunk(std::vector<std::uint8_t>& out, const char type[4],
               const std::vector<std::uint8_t>& data) {
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_u32(out, ~crc_step(0xffffffffu, out.data() + start, out.size() - start));
}

// The rows, each after its filter byte 0, as a zlib stream of stored blocks.
std::vector<std::uint8_t> stored_stream(const std::uint8_t* pixels, int width, int height,
                                        int channels, std::size_t stride) {
    const std::size_t row_bytes = static_cast<std::size_t>(width) * channels;
    std::vector<std::uint8_t> raw;
    raw.reserve((row_bytes + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const std::uint8_t* row = pixels + y * stride;
        raw.insert(raw.end(), row, row + row_bytes);
    }
    std::vector<std::uint8_t> out = {0x78, 0x01};
    for (std::size_t at = 0;; at += kStoredBlockMax) {
        const std::size_t size =
            raw.size() - at < kStoredBlockMax ? raw.size() - at : kStoredBlockMax;
        const bool last = at + size == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<std::uint8_t>(size));
        out.push_back(static_cast<std::uint8_t>(size >> 8));
        out.push_back(static_cast<std::uint8_t>(~size));
        out.push_back(static_cast<std::uint8_t>(~size >> 8));
        out.insert(out.end(), raw.begin() + at, raw.begin() + at + size);
        if (last)
            break;
    }
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_u32(out, (b << 16) | a);
    return out;
}

}  // namespace

bool write(const char* path, const std::uint8_t* pixels, int width, int height, int channels,
           std::size_t stride) {
    static const std::uint8_t kColourTypes[] = {0, 0, 4, 2, 6};
    if (channels < 1 || channels > 4 || width <= 0 || height <= 0 ||
        stride < static_cast<std::size_t>(width) * channels) {
        std::fprintf(stderr, "png: cannot write %s: bad image shape\n", path);
        return false;
    }
    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> header;
    put_u32(header, static_cast<std::uint32_t>(width));
    put_u32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, kColourTypes[channels], 0, 0, 0});
    put_chunk(file, "IHDR", header);
    put_chunk(file, "IDAT", stored_stream(pixels, width, height, channels, stride));
    put_chunk(file, "IEND", {});

    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "png: cannot write %s\n", path);
        return false;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "png: cannot write %s\n", path);
        return false;
    }
    return true;
}

}  // namespace png
