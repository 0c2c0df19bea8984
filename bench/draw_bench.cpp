// The drawing layer's cost per frame: clearing the whole drawing area (done
// every frame) against a plain std::fill of the same pixels, and one
// 40-character line of text at each size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "display/draw.h"
#include "display/framebuffer.h"

namespace {

constexpr int kPageRows = 1080;

// A page of our own, 1920 pixels to a row like the framebuffer's.
struct Page {
    std::vector<std::uint32_t> words =
        std::vector<std::uint32_t>(static_cast<std::size_t>(kPagePixelsPerRow) * kPageRows, 0);
    Page() { back_page = words.data(); }
    ~Page() { back_page = nullptr; }
};

void BM_FillRectWholeArea(benchmark::State& state) {
    Page page;
    std::uint32_t colour = 0xff05070e;
    for (auto _ : state) {
        fill_rect(0, 0, kAreaWidth, kAreaHeight, colour);
        benchmark::DoNotOptimize(page.words.data());
        benchmark::ClobberMemory();
        colour ^= 1;
    }
    state.SetBytesProcessed(state.iterations() * kAreaWidth * kAreaHeight * 4);
}
BENCHMARK(BM_FillRectWholeArea);

// The same pixels, row by row with std::fill: the floor for fill_rect.
void BM_StdFillWholeArea(benchmark::State& state) {
    Page page;
    std::uint32_t colour = 0xff05070e;
    for (auto _ : state) {
        for (int y = 0; y < kAreaHeight; ++y) {
            std::uint32_t* row = back_page + y * kPagePixelsPerRow;
            std::fill(row, row + kAreaWidth, colour);
        }
        benchmark::DoNotOptimize(page.words.data());
        benchmark::ClobberMemory();
        colour ^= 1;
    }
    state.SetBytesProcessed(state.iterations() * kAreaWidth * kAreaHeight * 4);
}
BENCHMARK(BM_StdFillWholeArea);

// 40 characters of mixed text; at size 4 the line is 1040 pixels wide.
void BM_DrawText40(benchmark::State& state) {
    Page page;
    const int size = static_cast<int>(state.range(0));
    fill_rect(0, 0, kAreaWidth, kAreaHeight, 0xff05070e);
    const char* line = "SCORE 0012340  BEST 0098765  hold PLAY 3";
    for (auto _ : state) {
        draw_text(line, 20, 300, size, 0xffffe81f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 40);
}
BENCHMARK(BM_DrawText40)->DenseRange(1, 4)->ArgName("size");

}  // namespace

BENCHMARK_MAIN();
