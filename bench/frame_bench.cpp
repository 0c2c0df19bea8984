// A whole frame against the bare clear of the drawing area: next_frame of
// the title screen and of the busiest play screen, each run right after a
// std::fill of the same 1280 x 720 pixels (3,686,400 bytes, the least any
// frame must write) on the emulated goggles' framebuffer page.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "busy_world.h"
#include "display/draw.h"
#include "display/palette.h"
#include "emulator/emulator.h"
#include "frame.h"
#include "game/rng.h"
#include "paired.h"

namespace {

// The goggles' framebuffer, emulated, with a display of its own, its back
// page and the stars placed.
struct Screen {
    std::unique_ptr<Display> display = std::make_unique<Display>();
    Starfield stars;
    Page page;

    Screen() {
        emu::reset();
        if (open_display(*display, false) != FbOpen::Ready)
            std::abort();
        page = back_page(display->framebuffer);
        random_seed(rng, 1337);
        place_stars(stars, rng);
    }
    ~Screen() { close_framebuffer(display->framebuffer); }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    void clear_with_std_fill() const {
        for (int y = 0; y < kAreaHeight; ++y) {
            std::uint32_t* row = page.canvas.at(0, y);
            std::fill(row, row + kAreaWidth, kBackground);
        }
    }
};

void BM_TitleFrame(benchmark::State& state) {
    Screen screen;
    const World world;  // the title, as after start-up
    // 700 ms after the start the blinking prompt is shown: the fuller frame.
    measure_against(
        state, [&] { next_frame(*screen.display, screen.stars, world, false, screen.page); },
        [&] { screen.clear_with_std_fill(); });
}
BENCHMARK(BM_TitleFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_BusyPlayFrame(benchmark::State& state) {
    Screen screen;
    const World world = busy_world(rng);
    measure_against(
        state, [&] { next_frame(*screen.display, screen.stars, world, true, screen.page); },
        [&] { screen.clear_with_std_fill(); });
}
BENCHMARK(BM_BusyPlayFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
