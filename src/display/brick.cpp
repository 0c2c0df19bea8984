#include "display/brick.h"

#include "display/palette.h"

namespace {

// A rivet stands this far in from each corner of its brick; the stripe is
// two pixels wide down the middle, leaving this many rows at either end.
constexpr int kRivetInset = 6;
constexpr int kStripeEnds = 5;

}  // namespace

void draw_brick(const Canvas& canvas, int x, int y, int w, int h, std::uint32_t colour,
                BrickMarks marks) {
    draw_block(canvas, x, y, w, h, colour);
    if (marks == kBrickPlain)
        return;
    // The marks are drawn in a canvas of the brick's own pixels, so that
    // they stay on it.
    const Rect inside = clip_box(x, y, w, h, canvas.window);
    if (inside.empty())
        return;
    const Canvas brick{canvas.at(inside.left, inside.top), canvas.stride, inside};
    const int near_x = x + kRivetInset;
    const int far_x = x + w - 1 - kRivetInset;
    const int near_y = y + kRivetInset;
    const int far_y = y + h - 1 - kRivetInset;
    if ((marks & kBrickRivets) != 0) {
        put_pixel(brick, near_x, near_y, kRivet);
        put_pixel(brick, far_x, near_y, kRivet);
        put_pixel(brick, near_x, far_y, kRivet);
        put_pixel(brick, far_x, far_y, kRivet);
    }
    if ((marks & kBrickStripe) != 0)
        fill_rect(brick, x + w / 2 - 1, y + kStripeEnds, 2, h - 2 * kStripeEnds, kStripe);
}
