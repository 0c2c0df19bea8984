// One frame for counting its instructions under callgrind (bench/callgrind):
// compose_frame of the title screen or of the busiest play screen, composed
// into the emulated goggles' framebuffer. The frame counted is the second of
// its screen, as in a running game, where the blends that the drawing layer
// remembers from frame to frame are there already. Instruction counts do not
// depend on the machine's load, so a change in cost shows as a number.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "busy_world.h"
#include "display/framebuffer.h"
#include "display/screens.h"
#include "emulator/emulator.h"
#include "game/rng.h"

namespace {

// The frame callgrind counts (bench/callgrind collects inside this call only).
[[gnu::noinline]] void counted_frame(const World& world, bool paused) {
    compose_frame(world, paused, kPromptShownMs, rng);
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
    if (open_framebuffer(false) != FbOpen::Ready)
        return 1;
    select_back_page();
    const World world = title ? World{} : busy_world();
    random_seed(rng, 1337);
    init_starfield(rng);
    compose_frame(world, play, kPromptShownMs, rng);
    counted_frame(world, play);
    close_framebuffer();
    return 0;
}
