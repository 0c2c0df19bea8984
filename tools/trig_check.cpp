// Checks the game's sine, cosine and arc tangent (src/game/trig.h) against
// MPFR, and counts where the C library's sinf, cosf and atan2f round
// otherwise than exactly.
//
//   trig_check sample [N]      N random angles (every float's bits alike,
//                              and within [-4, 4]) and N random velocity
//                              pairs, each against MPFR, and the special
//                              values; a few seconds (scripts/test)
//   trig_check sweep LO HI     every float angle in [LO, HI] and [-HI, -LO],
//                              0 <= LO <= HI (scripts/trig-check)
//   trig_check atan2 N         the velocities of every ball speed at every
//                              256th float angle, in all four quadrants, and N
//                              random velocities within +-700 px/s
//
// The sweeps call MPFR only where a cheaper reference cannot decide: the C
// library's double sin, cos and atan2, within 1 ulp of double by glibc's own
// account (and taken here as within 8, 2^-50 of the result), whose interval
// rounds to a single float almost always. One argument in 4096 goes to MPFR
// all the same, to check that account. Prints the counts; fails when any of
// the game's results differs from the exact one rounded.
#include <mpfr.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "game/trig.h"

namespace {

std::uint32_t bits(float value) {
    std::uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

float from_bits(std::uint32_t word) {
    float value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

bool same(float a, float b) {
    return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

enum class Fn { Sin, Cos, Atan2 };

// The exact result rounded to float, subnormals and all.
float exact(Fn fn, float a, float b = 0) {
    mpfr_t x, y, r;
    mpfr_inits2(24, x, y, nullptr);
    mpfr_init2(r, 24);
    mpfr_set_flt(x, a, MPFR_RNDN);
    mpfr_set_flt(y, b, MPFR_RNDN);
    int t = fn == Fn::Sin   ? mpfr_sin(r, x, MPFR_RNDN)
            : fn == Fn::Cos ? mpfr_cos(r, x, MPFR_RNDN)
                            : mpfr_atan2(r, x, y, MPFR_RNDN);  // atan2(a, b)
    t = mpfr_check_range(r, t, MPFR_RNDN);
    mpfr_subnormalize(r, t, MPFR_RNDN);
    float out = mpfr_get_flt(r, MPFR_RNDN);
    mpfr_clears(x, y, r, nullptr);
    return out;
}

float ours(Fn fn, float a, float b = 0) {
    return fn == Fn::Sin ? sin_rounded(a) : fn == Fn::Cos ? cos_rounded(a) : atan2_rounded(a, b);
}

float libc(Fn fn, float a, float b = 0) {
    return fn == Fn::Sin ? sinf(a) : fn == Fn::Cos ? cosf(a) : atan2f(a, b);
}

struct Tally {
    const char* name;
    std::uint64_t count = 0;
    std::uint64_t ours_wrong = 0;
    std::uint64_t libc_wrong = 0;
    std::uint64_t by_mpfr = 0;
    std::uint64_t filter_wrong = 0;
};

// The exact result rounded, by the double filter where it decides.
float reference(Fn fn, float a, float b, std::uint64_t index, Tally& tally) {
    double d = fn == Fn::Sin   ? std::sin(static_cast<double>(a))
               : fn == Fn::Cos ? std::cos(static_cast<double>(a))
                               : std::atan2(static_cast<double>(a), static_cast<double>(b));
    double e = std::fabs(d) * 0x1p-50;
    float low = static_cast<float>(d - e);
    float high = static_cast<float>(d + e);
    if (low == high && (index & 4095) != 0)
        return low;
    ++tally.by_mpfr;
    float r = exact(fn, a, b);
    if (low == high && !same(low, r))
        ++tally.filter_wrong;
    return r;
}

void check(Fn fn, float a, float b, float expected, Tally& tally) {
    ++tally.count;
    float mine = ours(fn, a, b);
    if (!same(mine, expected)) {
        if (++tally.ours_wrong <= 20)
            std::printf("%s(%a, %a): ours %a, exact %a\n", tally.name, a, b, mine, expected);
    }
    if (!same(libc(fn, a, b), expected))
        ++tally.libc_wrong;
}

bool report(const Tally& t) {
    std::printf(
        "%s: %" PRIu64 " arguments, ours differ at %" PRIu64 ", the C library's at %" PRIu64
        " (%.4f%%); %" PRIu64 " decided by MPFR, %" PRIu64 " filter errors\n",
        t.name, t.count, t.ours_wrong, t.libc_wrong,
        t.count ? 100.0 * static_cast<double>(t.libc_wrong) / static_cast<double>(t.count) : 0.0,
        t.by_mpfr, t.filter_wrong);
    return t.ours_wrong == 0 && t.filter_wrong == 0;
}

// Every float a in [low, high] (0 <= low <= high) and its negative.
bool sweep(float low, float high) {
    Tally s{"sin"}, c{"cos"};
    std::uint64_t i = 0;
    for (std::uint32_t w = bits(low); w <= bits(high); ++w) {
        for (float a : {from_bits(w), -from_bits(w)}) {
            check(Fn::Sin, a, 0, reference(Fn::Sin, a, 0, i, s), s);
            check(Fn::Cos, a, 0, reference(Fn::Cos, a, 0, i, c), c);
            ++i;
        }
    }
    bool ok = report(s);
    return report(c) && ok;
}

// The ball speeds, full and slowed by 0.72, as the game's motion has them.
const float kSpeeds[] = {400.0f, 435.0f, 470.0f, 505.0f, 540.0f, 575.0f, 610.0f, 620.0f,
                         288.0f, 313.2f, 338.4f, 363.6f, 388.8f, 414.0f, 439.2f, 446.4f};

bool sweep_atan2(long random_pairs) {
    Tally circles{"atan2 circles"}, random{"atan2 random"};
    std::uint64_t i = 0;
    for (float speed : kSpeeds) {
        for (float a = 0.001f; a <= 3.1416f; a = std::nextafter(a, 4.0f)) {
            if ((bits(a) & 255) != 0)
                continue;
            float vx = speed * sin_rounded(a);
            float vy = speed * cos_rounded(a);
            for (int q = 0; q < 4; ++q) {
                float y = q & 1 ? -vy : vy;
                float x = q & 2 ? -vx : vx;
                check(Fn::Atan2, y, x, reference(Fn::Atan2, y, x, i++, circles), circles);
            }
        }
    }
    std::mt19937_64 gen(29);
    std::uniform_real_distribution<float> v(-700.0f, 700.0f);
    for (long k = 0; k < random_pairs; ++k) {
        float y = v(gen), x = v(gen);
        check(Fn::Atan2, y, x, reference(Fn::Atan2, y, x, i++, random), random);
    }
    bool ok = report(circles);
    return report(random) && ok;
}

bool sample(long n) {
    Tally s{"sin"}, c{"cos"}, bits_s{"sin of any float"}, bits_c{"cos of any float"},
        near{"atan2 within 700"}, any{"atan2 of any floats"}, special{"atan2 special"};
    std::mt19937_64 gen(2026);
    std::uniform_real_distribution<float> angle(-4.0f, 4.0f);
    std::uniform_real_distribution<float> v(-700.0f, 700.0f);
    std::uniform_int_distribution<std::uint32_t> word;
    for (long k = 0; k < n; ++k) {
        float a = angle(gen);
        check(Fn::Sin, a, 0, exact(Fn::Sin, a), s);
        check(Fn::Cos, a, 0, exact(Fn::Cos, a), c);
        float b = from_bits(word(gen));
        if (k % 4 == 0) {
            check(Fn::Sin, b, 0, exact(Fn::Sin, b), bits_s);
            check(Fn::Cos, b, 0, exact(Fn::Cos, b), bits_c);
        }
        float y = v(gen), x = v(gen);
        check(Fn::Atan2, y, x, exact(Fn::Atan2, y, x), near);
        if (k % 4 == 0) {
            float wy = from_bits(word(gen)), wx = from_bits(word(gen));
            check(Fn::Atan2, wy, wx, exact(Fn::Atan2, wy, wx), any);
        }
    }
    // Every pair of special values, in every sign.
    const float specials[] = {0.0f,   0x1p-149f, 0x1p-126f,       1e-30f,   1.0f,
                              700.0f, 0x1p127f,  0x1.fffffep127f, INFINITY, NAN};
    for (float sy : specials) {
        for (float sx : specials) {
            for (int q = 0; q < 4; ++q) {
                float y = q & 1 ? -sy : sy, x = q & 2 ? -sx : sx;
                check(Fn::Atan2, y, x, exact(Fn::Atan2, y, x), special);
            }
        }
        for (float a : {sy, -sy}) {
            check(Fn::Sin, a, 0, exact(Fn::Sin, a), bits_s);
            check(Fn::Cos, a, 0, exact(Fn::Cos, a), bits_c);
        }
    }
    bool ok = true;
    for (const Tally* t : {&s, &c, &bits_s, &bits_c, &near, &any, &special})
        ok = report(*t) && ok;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    mpfr_set_emin(-148);  // floats' range, subnormals included
    mpfr_set_emax(128);
    bool ok;
    if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "sample") == 0) {
        ok = sample(argc == 3 ? std::atol(argv[2]) : 300000);
    } else if (argc == 4 && std::strcmp(argv[1], "sweep") == 0) {
        float low = std::strtof(argv[2], nullptr), high = std::strtof(argv[3], nullptr);
        if (!(low >= 0 && low <= high && high < INFINITY)) {
            std::fprintf(stderr, "trig_check: sweep needs 0 <= LO <= HI\n");
            return 2;
        }
        ok = sweep(low, high);
    } else if (argc == 3 && std::strcmp(argv[1], "atan2") == 0) {
        ok = sweep_atan2(std::atol(argv[2]));
    } else {
        std::fprintf(stderr, "usage: trig_check sample [N] | sweep LO HI | atan2 N\n");
        return 2;
    }
    return ok ? 0 : 1;
}
