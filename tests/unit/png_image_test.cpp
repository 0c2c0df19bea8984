// The PNG tool that tests and the simulator use to save and compare frames.
#include "png_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(PngImage, SavedAreaReadsBackPixelForPixel) {
    // A 1920-wide page with a pattern in its drawing area and junk beside it.
    std::vector<std::uint32_t> page(1920 * 722, 0xdeadbeef);
    for (int y = 0; y < 720; ++y) {
        for (int x = 0; x < 1280; ++x) {
            page[y * 1920 + x] =
                0xff000000u | (x & 0xff) << 16 | (y & 0xff) << 8 | ((x ^ y) & 0xff);
        }
    }
    const std::string path = ::testing::TempDir() + "png_image_area.png";
    ASSERT_TRUE(png::save_area(path.c_str(), page.data()));
    png::Image image;
    ASSERT_TRUE(png::read(path.c_str(), 3, image));
    ASSERT_EQ(image.width, 1280);
    ASSERT_EQ(image.height, 720);
    int mismatches = 0;
    for (int y = 0; y < 720; ++y) {
        for (int x = 0; x < 1280; ++x) {
            const std::uint8_t* p = &image.pixels[(y * 1280 + x) * 3];
            const std::uint32_t pixel = page[y * 1920 + x];
            mismatches += p[0] != ((pixel >> 16) & 0xff) || p[1] != ((pixel >> 8) & 0xff) ||
                          p[2] != (pixel & 0xff);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(PngImage, GreyAndAlphaImagesRoundTripAndBadInputFails) {
    png::Image grey{5, 3, 1, {0, 1, 2, 3, 4, 50, 60, 70, 80, 90, 251, 252, 253, 254, 255}};
    const std::string path = ::testing::TempDir() + "png_image_grey.png";
    ASSERT_TRUE(png::write(path.c_str(), grey));
    png::Image back;
    ASSERT_TRUE(png::read(path.c_str(), 1, back));
    EXPECT_EQ(back.width, 5);
    EXPECT_EQ(back.height, 3);
    EXPECT_EQ(back.pixels, grey.pixels);

    png::Image rgba{2, 1, 4, {255, 255, 255, 0, 255, 255, 255, 128}};
    ASSERT_TRUE(png::write(path.c_str(), rgba));
    ASSERT_TRUE(png::read(path.c_str(), 4, back));
    EXPECT_EQ(back.pixels, rgba.pixels);

    EXPECT_FALSE(png::read((::testing::TempDir() + "no_such_image.png").c_str(), 1, back));
    EXPECT_FALSE(png::write(path.c_str(), grey.pixels.data(), 5, 3, 1, 4));  // stride too short
    EXPECT_FALSE(png::write(path.c_str(), grey.pixels.data(), 5, 3, 7, 5));  // no such format
}

}  // namespace
