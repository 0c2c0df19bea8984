#pragma once
// A drawing page for the drawing fuzzers, laid out like the goggles' pages
// (1920 pixels per row) in the middle of three, where everything but the
// 1280 x 720 drawing area is a canary: poisoned for AddressSanitizer, so
// that any access outside the area is reported at once, and filled with a
// pattern that is checked in full now and then.
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <vector>

#include "display/draw.h"
#include "fuzz_check.h"

class PageCanary {
  public:
    static constexpr int kRows = 1080;
    static constexpr std::uint32_t kCanary = 0x5ac3a55au;

    PageCanary() : pixels_(static_cast<std::size_t>(3 * kRows) * kPagePixelsPerRow, kCanary) {
        page_ = pixels_.data() + static_cast<std::size_t>(kRows) * kPagePixelsPerRow;
        for (int y = 0; y < kAreaHeight; ++y) {
            for (int x = 0; x < kAreaWidth; ++x)
                page_[y * kPagePixelsPerRow + x] = 0xff000000u;
        }
        poison(true);
    }

    // Pixel (0, 0) of the drawing area, rows kPagePixelsPerRow apart.
    std::uint32_t* page() const { return page_; }

    // Every word outside the area still holds the canary.
    void check() {
        poison(false);
        const std::size_t total = pixels_.size();
        const std::size_t area_start = static_cast<std::size_t>(page_ - pixels_.data());
        for (std::size_t i = 0; i < total; ++i) {
            const std::size_t offset = i - area_start;
            const bool in_area = i >= area_start && offset / kPagePixelsPerRow < kAreaHeight &&
                                 offset % kPagePixelsPerRow < static_cast<std::size_t>(kAreaWidth);
            if (!in_area)
                FUZZ_CHECK(pixels_[i] == kCanary);
        }
        poison(true);
    }

  private:
    void poison(bool on) {
        auto mark = [on](const void* start, std::size_t bytes) {
            if (on) {
                ASAN_POISON_MEMORY_REGION(start, bytes);
            } else {
                ASAN_UNPOISON_MEMORY_REGION(start, bytes);
            }
        };
        const std::size_t row_bytes = kPagePixelsPerRow * 4;
        // Everything before the area's first row.
        mark(pixels_.data(), static_cast<std::size_t>(page_ - pixels_.data()) * 4);
        // The right-hand part of every row of the area.
        for (int y = 0; y < kAreaHeight; ++y) {
            mark(page_ + y * kPagePixelsPerRow + kAreaWidth, row_bytes - kAreaWidth * 4);
        }
        // Everything below the area.
        std::uint32_t* below = page_ + kAreaHeight * kPagePixelsPerRow;
        mark(below, static_cast<std::size_t>(pixels_.data() + pixels_.size() - below) * 4);
    }

    std::vector<std::uint32_t> pixels_;
    std::uint32_t* page_ = nullptr;
};
