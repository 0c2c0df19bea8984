#pragma once
// A brick as drawn: its bevelled block and the marks it can carry.
#include <cstdint>

#include "display/draw.h"

// Marks a brick can carry on top of its block.
enum BrickMarks : std::uint8_t { kBrickPlain = 0, kBrickRivets = 1, kBrickStripe = 2 };

// The block of draw_block with its marks: rivets in the corners, or a
// stripe down its middle, which stay on the brick however small it is.
void draw_brick(const Canvas& canvas, int x, int y, int w, int h, std::uint32_t colour,
                BrickMarks marks);
