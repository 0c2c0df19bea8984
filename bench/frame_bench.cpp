// A whole frame against the bare clear of the drawing area: compose_frame of
// the title screen and of the busiest play screen, each run right after a
// std::fill of the same 1280 x 720 pixels (3,686,400 bytes, the least any
// frame must write) on the emulated goggles' framebuffer page.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>

#include "busy_world.h"
#include "display/draw.h"
#include "display/framebuffer.h"
#include "display/palette.h"
#include "display/screens.h"
#include "emulator/emulator.h"
#include "game/rng.h"
#include "paired.h"

namespace {

// The goggles' framebuffer, emulated, with the back page chosen.
void open_page() {
    emu::reset();
    page_info = PageInfo{};
    if (open_framebuffer(false) != FbOpen::Ready)
        std::abort();
    select_back_page();
    random_seed(rng, 1337);
    init_starfield(rng);
}

void close_page() {
    close_framebuffer();
    page_info = PageInfo{};
}

void clear_with_std_fill() {
    for (int y = 0; y < kAreaHeight; ++y) {
        std::uint32_t* row = back_page + y * kPagePixelsPerRow;
        std::fill(row, row + kAreaWidth, kBackground);
    }
}

void BM_TitleFrame(benchmark::State& state) {
    open_page();
    const World world;  // the title, as after start-up
    // 700 ms after the start the blinking prompt is shown: the fuller frame.
    measure_against(
        state, [&] { compose_frame(world, false, kPromptShownMs, rng); }, clear_with_std_fill);
    close_page();
}
BENCHMARK(BM_TitleFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_BusyPlayFrame(benchmark::State& state) {
    open_page();
    const World world = busy_world();
    measure_against(
        state, [&] { compose_frame(world, true, kPromptShownMs, rng); }, clear_with_std_fill);
    close_page();
}
BENCHMARK(BM_BusyPlayFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
