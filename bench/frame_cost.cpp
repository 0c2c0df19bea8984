// One frame for counting its instructions under callgrind (bench/callgrind):
// next_frame of the title screen or of the busiest play screen, composed
// into the emulated goggles' framebuffer. The frame counted is the second of
// its screen, as in a running game, where the blends that the drawing layer
// remembers from frame to frame are there already. Instruction counts do not
// depend on the machine's load, so a change in cost shows as a number.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "busy_world.h"
#include "emulator/emulator.h"
#include "frame.h"
#include "game/rng.h"

namespace {

// The frame callgrind counts (bench/callgrind collects inside this call only).
[[gnu::noinline]] void counted_frame(Display& display, Starfield& stars, const World& world,
                                     bool paused, const Page& page) {
    next_frame(display, stars, world, paused, page);
}

}  // namespace

int main(int argc, char** argv) {
    const bool title = argc == 2 && std::strcmp(argv[1], "title") == 0;
    const bool play = argc == 2 && std::strcmp(argv[1], "play") == 0;
    if (!title && !play) {
        std::fprintf(stderr, "usage: frame_cost title|play\n");
        return 2;
    }
    emu::reset();
    auto display = std::make_unique<Display>();
    if (open_display(*display, false) != FbOpen::Ready)
        return 1;
    const Page page = back_page(display->framebuffer);
    const World world = title ? World{} : busy_world(rng);
    Starfield stars;
    random_seed(rng, 1337);
    place_stars(stars, rng);
    next_frame(*display, stars, world, play, page);
    counted_frame(*display, stars, world, play, page);
    close_framebuffer(display->framebuffer);
    return 0;
}
