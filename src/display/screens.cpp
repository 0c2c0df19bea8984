// STAND-IN until the screens land: every frame is the cleared area.
#include "display/screens.h"

#include "display/draw.h"

void init_starfield() {}

void compose_frame(const World& /*world*/, bool /*paused*/, int /*elapsed_ms*/) {
    fill_rect(0, 0, kAreaWidth, kAreaHeight, 0xff05070e);
}
