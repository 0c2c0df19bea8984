// The C library's answers to the trigonometry the game's motion asks for,
// boiled down to digests, so that two builds (the build machine's and the
// goggles', run under qemu-arm) can be compared by scripts/libm-compare.
//
// The ball's direction comes from sincosf of an angle (launches within 15
// degrees of straight up, paddle bounces within 60 degrees, a split ball's
// copies turned 0.45 rad from atan2f of its velocity) and from atan2f of a
// velocity of at most 620 px/s. Here:
//   sincos  every float angle in [-4, 4], the whole range those can reach,
//           one digest per 2^24 angles;
//   atan2   the velocities on the circles of every ball speed, every 64th
//           float angle from 0.001 rad to pi, in all four quadrants, and
//           2^26 random velocities.
// "libm_sweep sincos-dump LO HI" prints each angle and answer in [LO, HI],
// to find the angles where two digests differ.
//
// "game-sincos" and "game-atan2" digest the game's own functions
// (src/game/trig.h) the same way, sine and cosine at every 16th float angle
// in [-4, 4] ("game-sincos 1": every one): those must agree on every build.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "game/trig.h"

namespace {

std::uint32_t bits(float value) {
    std::uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

struct Digest {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    std::uint64_t count = 0;
    void add(float value) {
        hash = (hash ^ bits(value)) * 1099511628211ull;
        ++count;
    }
};

using SinCos = void (*)(float, float*, float*);
using Atan2 = float (*)(float, float);

void libc_sincos(float a, float* s, float* c) {
    sincosf(a, s, c);
}

void game_sincos(float a, float* s, float* c) {
    *s = sin_rounded(a);
    *c = cos_rounded(a);
}

void sweep_sincos(SinCos sincos, std::uint32_t every) {
    Digest block;
    Digest all;
    float first = -4.0f;
    for (float a = -4.0f; a <= 4.0f; a = std::nextafter(a, 5.0f)) {
        if ((bits(a) & (every - 1)) != 0)
            continue;
        float s, c;
        sincos(a, &s, &c);
        block.add(s);
        block.add(c);
        all.add(s);
        all.add(c);
        if (block.count == (2u << 24) / every) {
            std::printf("sincos %a %016" PRIx64 "\n", first, block.hash);
            block = Digest{};
            first = std::nextafter(a, 5.0f);
        }
    }
    std::printf("sincos %a %016" PRIx64 "\n", first, block.hash);
    std::printf("sincos all %" PRIu64 " %016" PRIx64 "\n", all.count / 2, all.hash);
}

void dump_sincos(float low, float high) {
    for (float a = low; a <= high; a = std::nextafter(a, 5.0f)) {
        float s, c;
        sincosf(a, &s, &c);
        std::printf("%a %08" PRIx32 " %08" PRIx32 "\n", a, bits(s), bits(c));
    }
}

void sweep_atan2(SinCos sincos, Atan2 atan2) {
    // Base speeds level by level up to the cap, and each slowed by 0.72.
    const float speeds[] = {400.0f, 435.0f, 470.0f, 505.0f, 540.0f, 575.0f, 610.0f, 620.0f,
                            288.0f, 313.2f, 338.4f, 363.6f, 388.8f, 414.0f, 439.2f, 446.4f};
    Digest circles;
    for (float speed : speeds) {
        for (float a = 0.001f; a <= 3.1416f; a = std::nextafter(a, 4.0f)) {
            if ((bits(a) & 63) != 0)
                continue;
            float s, c;
            sincos(a, &s, &c);
            float vx = speed * s;
            float vy = speed * c;
            circles.add(atan2(vy, vx));
            circles.add(atan2(-vy, vx));
            circles.add(atan2(vy, -vx));
            circles.add(atan2(-vy, -vx));
        }
    }
    std::printf("atan2 circles %" PRIu64 " %016" PRIx64 "\n", circles.count, circles.hash);

    Digest random;
    std::uint64_t state = 88172645463325252ull;  // xorshift64
    for (int i = 0; i < (1 << 26); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        float vx = static_cast<float>(static_cast<std::int32_t>(state)) * (700.0f / 2147483648.0f);
        float vy =
            static_cast<float>(static_cast<std::int32_t>(state >> 32)) * (700.0f / 2147483648.0f);
        random.add(atan2(vy, vx));
    }
    std::printf("atan2 random %" PRIu64 " %016" PRIx64 "\n", random.count, random.hash);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "sincos") == 0) {
        sweep_sincos(libc_sincos, 1);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "atan2") == 0) {
        sweep_atan2(libc_sincos, atan2f);
        return 0;
    }
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "game-sincos") == 0) {
        // Every 16th angle unless told (a power of two); 1 takes minutes more.
        sweep_sincos(game_sincos, argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 16);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "game-atan2") == 0) {
        sweep_atan2(game_sincos, atan2_rounded);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "sincos-dump") == 0) {
        dump_sincos(std::strtof(argv[2], nullptr), std::strtof(argv[3], nullptr));
        return 0;
    }
    std::fprintf(stderr,
                 "usage: libm_sweep sincos | atan2 | game-sincos [EVERY] | game-atan2 | "
                 "sincos-dump LO HI\n");
    return 2;
}
