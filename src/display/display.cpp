#include "display/display.h"

#include "display/screens.h"

FbOpen open_display(Display& display, bool probe_only) {
    const FbOpen result = open_framebuffer(display.framebuffer, probe_only);
    if (result == FbOpen::Ready)
        display.compositor.forget_pages();
    return result;
}

void show_frame(Display& display, const World& world, const Starfield& stars, bool paused,
                std::int64_t elapsed_ms) {
    const Page page = back_page(display.framebuffer);
    describe_frame(*display.list, world, stars, paused, elapsed_ms);
    display.compositor.compose(display.list, page.pixels, elapsed_ms);
    if (!present_page(display.framebuffer, page.y))
        display.compositor.forget_pages();
}
