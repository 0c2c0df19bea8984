// One frame for counting its instructions under callgrind (bench/callgrind):
// compose_frame of the title screen or of the busiest play screen, composed
// once into the emulated goggles' framebuffer. Instruction counts do not
// depend on the machine's load, so a change in cost shows as a number.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "busy_world.h"
#include "display/framebuffer.h"
#include "display/screens.h"
#include "emulator/emulator.h"
#include "shell/rng.h"

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
    random_seed(1337);
    init_starfield();
    compose_frame(world, play, kPromptShownMs);
    close_framebuffer();
    return 0;
}
