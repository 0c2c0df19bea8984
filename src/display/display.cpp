#include "display/display.h"

#include "display/screens.h"

FbOpen open_display(Display& display, bool probe_only) {
    const FbOpen result = open_framebuffer(display.framebuffer, probe_only);
    if (result == FbOpen::Ready)
        display.compositor.forget_pages();
    return result;
}

void compose_frame(Compositor& compositor, const Page& page, const World& world,
                   const Starfield& stars, bool paused, std::int64_t elapsed_ms) {
    describe_frame(compositor.next_list(), world, stars, paused, elapsed_ms);
    compositor.compose(page, elapsed_ms);
}

void show_frame(Display& display, const World& world, const Starfield& stars, bool paused,
                std::int64_t elapsed_ms) {
    const Page page = back_page(display.framebuffer);
    compose_frame(display.compositor, page, world, stars, paused, elapsed_ms);
    if (!present_page(display.framebuffer, page))
        display.compositor.forget_pages();
}
