#include "display/damage.h"

#include <algorithm>
#include <bit>

namespace {

// The index of the lowest bit set, counted in 32-bit halves: 32-bit ARM has
// an instruction for those and a library call for 64 bits.
int lowest_bit(std::uint64_t bits) {
    const auto low = static_cast<std::uint32_t>(bits);
    return low != 0 ? std::countr_zero(low)
                    : 32 + std::countr_zero(static_cast<std::uint32_t>(bits >> 32));
}

}  // namespace

void Damage::clear() {
    count_ = 0;
    for (std::uint64_t& band : bands_)
        band = 0;
}

void Damage::mark(const Rect& rect, int index, bool on) {
    const int first = std::clamp(rect.top / kBandRows, 0, kBands - 1);
    const int last = std::clamp((rect.bottom - 1) / kBandRows, 0, kBands - 1);
    const std::uint64_t bit = std::uint64_t{1} << index;
    for (int band = first; band <= last; ++band)
        bands_[band] = on ? bands_[band] | bit : bands_[band] & ~bit;
}

void Damage::hold(int index, const Rect& rect) {
    rects_[index] = rect;
    mark(rect, index, true);
}

void Damage::drop(int index) {
    mark(rects_[index], index, false);
    const int last = --count_;
    if (index != last) {
        mark(rects_[last], last, false);
        hold(index, rects_[last]);
    }
}

std::uint64_t Damage::near(const Rect& rect) const {
    // A rectangle meets those that overlap it or touch it, one row further.
    const int first = std::clamp((rect.top - 1) / kBandRows, 0, kBands - 1);
    const int last = std::clamp(rect.bottom / kBandRows, 0, kBands - 1);
    std::uint64_t found = 0;
    for (int band = first; band <= last; ++band)
        found |= bands_[band];
    return found;
}

void Damage::add(Rect rect) {
    if (rect.empty())
        return;
    // Whatever the new rectangle meets is taken into it, and the grown
    // rectangle looked at again, until it meets nothing held; the held ones
    // are looked at in their order.
    for (std::uint64_t candidates = near(rect); candidates != 0;) {
        const int i = lowest_bit(candidates);
        candidates &= candidates - 1;
        if (overlap_or_touch(rects_[i], rect) &&
            unite(rects_[i], rect).area() <= 2 * (rects_[i].area() + rect.area()) + kMergeSlack) {
            rect = unite(rect, rects_[i]);
            drop(i);
            candidates = near(rect);
        }
    }
    if (count_ < kCapacity) {
        hold(count_++, rect);
        return;
    }
    int best = 0;
    long long best_growth = -1;
    for (int i = 0; i < count_; ++i) {
        const long long growth = unite(rects_[i], rect).area() - rects_[i].area();
        if (best_growth < 0 || growth < best_growth) {
            best = i;
            best_growth = growth;
        }
    }
    const Rect grown = unite(rects_[best], rect);
    drop(best);
    add(grown);
}

long long Damage::area() const {
    long long total = 0;
    for (int i = 0; i < count_; ++i)
        total += rects_[i].area();
    return total;
}
