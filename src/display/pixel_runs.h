#pragma once
// The long fills of the drawing primitives, with the widest stores the
// processor has. Each build has one of pixel_runs_arm.cpp (assembly for the
// goggles) and pixel_runs_portable.cpp (the C library); CMake chooses. The
// copies of the same kind are copy_pixels in draw.h.
#include <cstdint>

// Stores colour into n pixels from to.
void fill_pixels(std::uint32_t* to, int n, std::uint32_t colour);
