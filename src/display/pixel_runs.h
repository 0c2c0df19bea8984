#pragma once
// The long fills of the drawing primitives, with the widest stores the
// processor has, and the copies of whole runs. Each build has one of
// pixel_runs_arm.cpp (assembly for the goggles) and pixel_runs_portable.cpp
// (the C library); CMake chooses.
#include <cstdint>

// Stores colour into n pixels from to.
void fill_pixels(std::uint32_t* to, int n, std::uint32_t colour);

// Copies n pixels with the widest stores the processor has (eight words at
// a time on 32-bit ARM, sixteen with its floating-point registers).
void copy_pixels(std::uint32_t* to, const std::uint32_t* from, int n);
