// The long fills and the copies of whole runs of pixels on 32-bit ARM, with
// load-multiple and store-multiple instructions. CMake builds this file for
// ARM only; pixel_runs_portable.cpp stands in for it elsewhere.
#include <cstdint>

#include "display/pixel_runs.h"

// Eight core registers move 32 bytes per load-multiple and store-multiple;
// with the floating-point unit every hard-float ARM core has, its sixteen
// 64-bit registers move 128 bytes per instruction.
namespace {

void copy_blocks_of_8(std::uint32_t*& to, const std::uint32_t*& from, int blocks) {
    asm volatile(
        "1:\n\t"
        "ldmia %[from]!, {r3, r4, r5, r6, r8, r9, r10, r12}\n\t"
        "stmia %[to]!, {r3, r4, r5, r6, r8, r9, r10, r12}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [from] "+r"(from), [blocks] "+r"(blocks)
        :
        : "r3", "r4", "r5", "r6", "r8", "r9", "r10", "r12", "cc", "memory");
}

void fill_blocks_of_8(std::uint32_t*& to, int blocks, std::uint32_t colour) {
    asm volatile(
        "mov r3, %[colour]\n\t"
        "mov r4, %[colour]\n\t"
        "mov r5, %[colour]\n\t"
        "mov r6, %[colour]\n\t"
        "mov r8, %[colour]\n\t"
        "mov r9, %[colour]\n\t"
        "mov r10, %[colour]\n\t"
        "mov r12, %[colour]\n\t"
        "1:\n\t"
        "stmia %[to]!, {r3, r4, r5, r6, r8, r9, r10, r12}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [blocks] "+r"(blocks)
        : [colour] "r"(colour)
        : "r3", "r4", "r5", "r6", "r8", "r9", "r10", "r12", "cc", "memory");
}

#if defined(__ARM_FP)
constexpr bool kWideRegisters = true;

void copy_blocks_of_32(std::uint32_t*& to, const std::uint32_t*& from, int blocks) {
    asm volatile(
        "1:\n\t"
        "vldmia %[from]!, {d0-d15}\n\t"
        "vstmia %[to]!, {d0-d15}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [from] "+r"(from), [blocks] "+r"(blocks)
        :
        : "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8", "d9", "d10", "d11", "d12", "d13",
          "d14", "d15", "cc", "memory");
}

void fill_blocks_of_32(std::uint32_t*& to, int blocks, std::uint32_t colour) {
    asm volatile(
        "vmov d0, %[colour], %[colour]\n\t"
        "vmov.f64 d1, d0\n\t"
        "vmov.f64 d2, d0\n\t"
        "vmov.f64 d3, d0\n\t"
        "vmov.f64 d4, d0\n\t"
        "vmov.f64 d5, d0\n\t"
        "vmov.f64 d6, d0\n\t"
        "vmov.f64 d7, d0\n\t"
        "vmov.f64 d8, d0\n\t"
        "vmov.f64 d9, d0\n\t"
        "vmov.f64 d10, d0\n\t"
        "vmov.f64 d11, d0\n\t"
        "vmov.f64 d12, d0\n\t"
        "vmov.f64 d13, d0\n\t"
        "vmov.f64 d14, d0\n\t"
        "vmov.f64 d15, d0\n\t"
        "1:\n\t"
        "vstmia %[to]!, {d0-d15}\n\t"
        "subs %[blocks], %[blocks], #1\n\t"
        "bne 1b"
        : [to] "+r"(to), [blocks] "+r"(blocks)
        : [colour] "r"(colour)
        : "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8", "d9", "d10", "d11", "d12", "d13",
          "d14", "d15", "cc", "memory");
}
#else
constexpr bool kWideRegisters = false;
void copy_blocks_of_32(std::uint32_t*&, const std::uint32_t*&, int) {}
void fill_blocks_of_32(std::uint32_t*&, int, std::uint32_t) {}
#endif

// Below this many pixels the sixteen registers are not worth loading.
constexpr int kWideRun = 64;

}  // namespace

void fill_pixels(std::uint32_t* to, int n, std::uint32_t colour) {
    if (kWideRegisters && n >= kWideRun) {
        fill_blocks_of_32(to, n >> 5, colour);
        n &= 31;
    }
    if (n >= 8) {
        fill_blocks_of_8(to, n >> 3, colour);
        n &= 7;
    }
    for (int i = 0; i < n; ++i)
        to[i] = colour;
}

void copy_pixels(std::uint32_t* to, const std::uint32_t* from, int n) {
    if (kWideRegisters && n >= kWideRun) {
        copy_blocks_of_32(to, from, n >> 5);
        n &= 31;
    }
    if (n >= 8) {
        copy_blocks_of_8(to, from, n >> 3);
        n &= 7;
    }
    for (int i = 0; i < n; ++i)
        to[i] = from[i];
}
