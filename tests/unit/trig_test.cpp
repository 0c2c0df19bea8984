#include "game/trig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

std::uint32_t bits(float value) {
    std::uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

// Exact results rounded to float, computed with MPFR. Chosen where the C
// library's sinf, cosf or atan2f (glibc 2.36) rounds otherwise, where the
// result lies so close to the midpoint of two floats that the fast
// evaluation cannot decide, and at the ends of the float range.
struct One {
    float x;
    float expected;
};

TEST(Trig, SineAtHardArguments) {
    const One cases[] = {
        {0x1.0d67a4p+0f, 0x1.bcb8aap-1f},   {0x1.27993p+0f, 0x1.d44f1ep-1f},  // near midpoints
        {-0x1.ef3594p-2f, -0x1.dc2196p-2f}, {-0x1.80e334p-1f, -0x1.5da5dcp-1f},
        {0x1.c4dfap-4f, 0x1.c3f38ep-4f},    {0x1.fffffep+127f, -0x1.0b3366p-1f},
        {0x1.0f0cfp+73f, -0x1.77d988p-1f},  {0x1.921fb6p+1f, -0x1.777a5cp-24f},
        {0x1.4484cp-100f, 0x1.4484cp-100f}, {0x1p-149f, 0x1p-149f},
    };
    for (const One& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(bits(sin_rounded(c.x)), bits(c.expected));
        EXPECT_EQ(bits(sin_rounded(-c.x)), bits(-c.expected));
    }
}

TEST(Trig, CosineAtHardArguments) {
    const One cases[] = {
        {0x1.01a84cp-1f, 0x1.c0867ap-1f},   {0x1.894b14p-1f, 0x1.703a8cp-1f},  // near midpoints
        {-0x1.16b834p+0f, 0x1.dab89ep-2f},  {-0x1.50abb8p-1f, 0x1.953dap-1f},
        {0x1.0c4d4ap+0f, 0x1.ff3d7p-2f},    {0x1p+127f, 0x1.90571ep-1f},
        {0x1.921fb6p+0f, -0x1.777a5cp-25f}, {0x1.2d97c8p+2f, 0x1.99bc5cp-27f},
    };
    for (const One& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(bits(cos_rounded(c.x)), bits(c.expected));
        EXPECT_EQ(bits(cos_rounded(-c.x)), bits(c.expected));
    }
}

TEST(Trig, ArcTangentAtHardArguments) {
    struct Two {
        float y, x, expected;
    };
    const Two cases[] = {
        {26.149597f, 85.901009f, 0x1.2e9846p-2f},  // glibc: 0x1.2e9848p-2
        {0x1.416a7cp+8f, 0x1.dd87ep+8f, 0x1.2f52d4p-1f},
        {-0x1.5fd26p+7f, 0x1.cc9e8p+8f, -0x1.758ffap-2f},
        {0x1.12c5f4p+9f, -0x1.521124p+8f, 0x1.0fa77ep+1f},
        {0x1.b86138p+7f, 0x1.77c69p+7f, 0x1.ba9156p-1f},  // near midpoints
        {0x1.0369cp+5f, -0x1.0b809cp+9f, 0x1.8a601p+1f},
        {-0x1.4193d8p+9f, 0x1.cbdfp+6f, -0x1.64d734p+0f},
        {0x1p-126f, -0x1p-149f, 0x1.921fb8p+0f},  // glibc: pi/2 rounded
        {0x1p-149f, 0x1p+127f, 0.0f},
        {-0x1p-149f, -0x1p+127f, -0x1.921fb6p+1f},
    };
    for (const Two& c : cases) {
        SCOPED_TRACE(testing::Message() << c.y << ", " << c.x);
        EXPECT_EQ(bits(atan2_rounded(c.y, c.x)), bits(c.expected));
    }
}

// Zeros, infinities and NaNs as the C library's atan2f, sinf and cosf
// treat them.
TEST(Trig, SpecialValues) {
    const float pi = 0x1.921fb6p+1f, half = 0x1.921fb6p+0f, quarter = 0x1.921fb6p-1f;
    const float inf = INFINITY;
    struct Two {
        float y, x, expected;
    };
    const Two cases[] = {
        {0.0f, 0.0f, 0.0f},
        {-0.0f, 0.0f, -0.0f},
        {0.0f, -0.0f, pi},
        {-0.0f, -0.0f, -pi},
        {0.0f, 5.0f, 0.0f},
        {-0.0f, -5.0f, -pi},
        {5.0f, 0.0f, half},
        {-5.0f, -0.0f, -half},
        {inf, inf, quarter},
        {-inf, -inf, -0x1.2d97c8p+1f},
        {inf, -7.0f, half},
        {3.0f, -inf, pi},
        {-3.0f, inf, -0.0f},
        {1.0f, 1.0f, quarter},
        {-1.0f, -1.0f, -0x1.2d97c8p+1f},
    };
    for (const Two& c : cases) {
        SCOPED_TRACE(testing::Message() << c.y << ", " << c.x);
        EXPECT_EQ(bits(atan2_rounded(c.y, c.x)), bits(c.expected));
    }
    EXPECT_TRUE(std::isnan(atan2_rounded(NAN, 1.0f)));
    EXPECT_TRUE(std::isnan(atan2_rounded(1.0f, NAN)));

    EXPECT_EQ(bits(sin_rounded(-0.0f)), bits(-0.0f));
    EXPECT_EQ(bits(sin_rounded(0.0f)), bits(0.0f));
    EXPECT_EQ(cos_rounded(-0.0f), 1.0f);
    for (float x : {inf, -inf, NAN}) {
        EXPECT_TRUE(std::isnan(sin_rounded(x)));
        EXPECT_TRUE(std::isnan(cos_rounded(x)));
    }
}

}  // namespace
