#include "game/trig.h"

#include <cmath>
#include <cstdint>
#include <cstring>

// Each function works in double: a result whose error bound leaves one float
// on either side is rounded once and returned. Otherwise (about one call in
// a million) the result lies too close to the midpoint between two floats,
// and a second evaluation in double-double (about 100 bits) decides. The
// operations used are those IEEE 754 rounds exactly the same way on every
// machine; the build keeps the compiler from fusing multiply-adds.

namespace {

// A number as the unevaluated sum of two doubles, |lo| <= ulp(hi) / 2.
struct Dd {
    double hi;
    double lo;
};

Dd two_sum(double a, double b) {
    double s = a + b;
    double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// Needs |a| >= |b| or a == 0.
Dd fast_two_sum(double a, double b) {
    double s = a + b;
    return {s, b - (s - a)};
}

// Veltkamp's split into two halves of 26 bits each.
void split(double a, double& hi, double& lo) {
    double t = 134217729.0 * a;  // 2^27 + 1
    hi = t - (t - a);
    lo = a - hi;
}

// Dekker's exact product.
Dd two_prod(double a, double b) {
    double p = a * b;
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

Dd add(Dd a, Dd b) {
    Dd s = two_sum(a.hi, b.hi);
    Dd t = two_sum(a.lo, b.lo);
    s = fast_two_sum(s.hi, s.lo + t.hi);
    return fast_two_sum(s.hi, s.lo + t.lo);
}

Dd neg(Dd a) {
    return {-a.hi, -a.lo};
}

Dd mul(Dd a, Dd b) {
    Dd p = two_prod(a.hi, b.hi);
    return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Dd div(Dd a, Dd b) {
    double q1 = a.hi / b.hi;
    Dd r = add(a, neg(mul(b, {q1, 0})));
    double q2 = r.hi / b.hi;
    r = add(r, neg(mul(b, {q2, 0})));
    double q3 = r.hi / b.hi;
    return add(fast_two_sum(q1, q2), {q3, 0});
}

Dd sqrt_dd(Dd a) {
    double s = std::sqrt(a.hi);
    Dd s2 = two_prod(s, s);
    double e = (((a.hi - s2.hi) - s2.lo) + a.lo) / (2 * s);
    return fast_two_sum(s, e);
}

constexpr Dd kPi = {0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53};
constexpr Dd kHalfPi = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};

// 2/pi in eleven pieces of 24 bits, 264 bits in all: enough to find
// x mod pi/2 to 100 bits for the largest float, whose 128 bits above the
// point fall away in whole turns.
constexpr double kTwoOverPi[] = {
    0xa2f983p-24,  0x6e4e44p-48,  0x1529fcp-72,  0x2757d1p-96,  0xf534ddp-120, 0xc0db62p-144,
    0x95993cp-168, 0x439041p-192, 0xfe5163p-216, 0xabdebbp-240, 0xc561b7p-264,
};

// The result y of the double evaluation is within |y| * 2^-47 of the exact
// value (the bound leaves a margin of four); it decides when both ends of
// that interval round to the same float.
constexpr double kFastError = 0x1p-45;

bool decided(double y, float* out) {
    double e = std::fabs(y) * kFastError;
    float low = static_cast<float>(y - e);
    float high = static_cast<float>(y + e);
    if (low != high)
        return false;
    *out = low;
    return true;
}

float next_float(float f, bool up) {
    if (f == 0)
        return up ? 0x1p-149f : -0x1p-149f;
    std::uint32_t word;
    std::memcpy(&word, &f, sizeof word);
    word += (up == (f > 0)) ? 1 : -1;
    std::memcpy(&f, &word, sizeof f);
    return f;
}

// The double-double value rounded to the nearest float, ties to even.
float round_to_float(Dd v) {
    float f = static_cast<float>(v.hi);
    double d = (v.hi - static_cast<double>(f)) + v.lo;  // v - f
    if (d == 0)
        return f;
    float g = next_float(f, d > 0);
    double half = (static_cast<double>(g) - static_cast<double>(f)) / 2;
    if (std::fabs(d) < std::fabs(half))
        return f;
    if (std::fabs(d) > std::fabs(half))
        return g;
    std::uint32_t word;
    std::memcpy(&word, &f, sizeof word);
    return (word & 1) == 0 ? f : g;
}

// x = n * pi/2 + r with |r| <= pi/4: r, and n mod 4. Exact up to the last
// bits of r for every finite float: x * 2/pi is summed piece by piece, each
// product exact in double, its whole turns (multiples of 4) left out.
struct Reduced {
    Dd r;
    int quadrant;
};

Reduced reduce(float x) {
    double xd = x;
    if (std::fabs(xd) < 0.78)
        return {{xd, 0}, 0};
    std::uint32_t word;
    std::memcpy(&word, &x, sizeof word);
    int lowest_bit = static_cast<int>((word >> 23) & 0xff) - 150;  // x is normal here
    std::int64_t n = 0;
    Dd sum = {0, 0};
    for (int j = 0; j < 11; ++j) {
        if (lowest_bit - 24 * (j + 1) >= 2)
            continue;  // a multiple of 4
        // The product has at most 48 bits, none above 2^50.
        double p = xd * kTwoOverPi[j];
        double whole = (p + 0x1.8p52) - 0x1.8p52;
        n += static_cast<std::int64_t>(whole);
        sum = add(sum, {p - whole, 0});
    }
    double whole = (sum.hi + 0x1.8p52) - 0x1.8p52;
    n += static_cast<std::int64_t>(whole);
    sum = add(sum, {-whole, 0});
    return {mul(sum, kHalfPi), static_cast<int>(n & 3)};
}

// Taylor series of sin r / r and cos r in nested form,
//   sin r = r (1 - r^2/(2*3) (1 - r^2/(4*5) (1 - ...))),
//   cos r = 1 - r^2/(1*2) (1 - r^2/(3*4) (1 - ...)),
// for |r| <= pi/4: ten steps leave out less than 2^-54, sixteen 2^-120.
double sin_fast(double r) {
    double r2 = r * r;
    double s = 1;
    for (int k = 10; k >= 1; --k)
        s = 1 - r2 * s / ((2.0 * k) * (2.0 * k + 1));
    return r * s;
}

double cos_fast(double r) {
    double r2 = r * r;
    double s = 1;
    for (int k = 10; k >= 1; --k)
        s = 1 - r2 * s / ((2.0 * k - 1) * (2.0 * k));
    return s;
}

Dd sin_slow(Dd r) {
    Dd r2 = mul(r, r);
    Dd s = {1, 0};
    for (int k = 16; k >= 1; --k)
        s = add({1, 0}, neg(div(mul(r2, s), {(2.0 * k) * (2.0 * k + 1), 0})));
    return mul(r, s);
}

Dd cos_slow(Dd r) {
    Dd r2 = mul(r, r);
    Dd s = {1, 0};
    for (int k = 16; k >= 1; --k)
        s = add({1, 0}, neg(div(mul(r2, s), {(2.0 * k - 1) * (2.0 * k), 0})));
    return s;
}

// Quadrant q of sine: sin r, cos r, -sin r, -cos r; cosine is sine a
// quadrant on.
float sine_of_quadrant(float x, int shift) {
    if (!std::isfinite(x))
        return x - x;  // NaN
    if (x == 0 && shift == 0)
        return x;
    Reduced red = reduce(x);
    int q = (red.quadrant + shift) & 3;
    bool use_cos = (q & 1) != 0;
    bool negate = q >= 2;
    double y = use_cos ? cos_fast(red.r.hi) : sin_fast(red.r.hi) + red.r.lo;
    float out;
    if (!decided(y, &out))
        out = round_to_float(use_cos ? cos_slow(red.r) : sin_slow(red.r));
    return negate ? -out : out;
}

// atan t for 0 <= t <= 1: two halvings, atan t = 2 atan(t / (1 + sqrt(1 + t^2))),
// bring t below tan(pi/16) < 0.2, where the series
//   atan u = u (1 - u^2/3 + u^4/5 - ...)
// leaves out less than 2^-56 after 13 terms and 2^-113 after 25.
double atan_fast(double t) {
    for (int i = 0; i < 2; ++i)
        t = t / (1 + std::sqrt(1 + t * t));
    double u2 = t * t;
    double s = 0;
    for (int n = 12; n >= 0; --n)
        s = 1 / (2.0 * n + 1) - u2 * s;
    return 4 * (t * s);
}

Dd atan_slow(Dd t) {
    for (int i = 0; i < 2; ++i)
        t = div(t, add({1, 0}, sqrt_dd(add({1, 0}, mul(t, t)))));
    Dd u2 = mul(t, t);
    Dd s = {0, 0};
    for (int n = 24; n >= 0; --n)
        s = add(div({1, 0}, {2.0 * n + 1, 0}), neg(mul(u2, s)));
    Dd a = mul(t, s);
    return {4 * a.hi, 4 * a.lo};
}

constexpr float kPiF = 0x1.921fb6p+1f;  // pi, pi/2, pi/4 and 3pi/4 rounded
constexpr float kHalfPiF = 0x1.921fb6p+0f;
constexpr float kQuarterPiF = 0x1.921fb6p-1f;
constexpr float kThreeQuarterPiF = 0x1.2d97c8p+1f;

}  // namespace

float sin_rounded(float x) {
    return sine_of_quadrant(x, 0);
}

float cos_rounded(float x) {
    return sine_of_quadrant(x, 1);
}

float atan2_rounded(float y, float x) {
    if (std::isnan(x) || std::isnan(y))
        return x + y;
    bool left = std::signbit(x);
    if (y == 0)
        return std::copysign(left ? kPiF : 0.0f, y);
    if (std::isinf(y)) {
        if (std::isinf(x))
            return std::copysign(left ? kThreeQuarterPiF : kQuarterPiF, y);
        return std::copysign(kHalfPiF, y);
    }
    if (std::isinf(x))
        return std::copysign(left ? kPiF : 0.0f, y);
    if (x == 0)
        return std::copysign(kHalfPiF, y);

    // The angle of (|x|, |y|) from the nearer axis, then turned into place.
    double ax = std::fabs(static_cast<double>(x));
    double ay = std::fabs(static_cast<double>(y));
    bool steep = ay > ax;
    double num = steep ? ax : ay;
    double den = steep ? ay : ax;
    double a = atan_fast(num / den);
    if (steep)
        a = kHalfPi.hi - a;
    if (left)
        a = kPi.hi - a;
    float out;
    if (!decided(a, &out)) {
        Dd slow = atan_slow(div({num, 0}, {den, 0}));
        if (steep)
            slow = add(kHalfPi, neg(slow));
        if (left)
            slow = add(kPi, neg(slow));
        out = round_to_float(slow);
    }
    return y < 0 ? -out : out;
}
