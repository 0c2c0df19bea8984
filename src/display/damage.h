#pragma once
// The rectangles of a frame to compose again, merged as they are added.
#include <cstdint>

#include "display/rect.h"

// Two rectangles that meet are merged when their union is at most twice
// their areas and this many pixels more.
constexpr long long kMergeSlack = 256;

// The rectangles to compose: at most kCapacity of them. A rectangle that
// overlaps or touches one already held is merged with it when their union
// is not much larger than the two (two thin walls meeting at a corner stay
// two); when all places are taken, the new one joins the one whose box
// grows least.
class Damage {
  public:
    static constexpr int kCapacity = 64;  // one bit each in a band's word

    void clear();
    void add(Rect rect);
    int count() const { return count_; }
    const Rect& operator[](int index) const { return rects_[index]; }
    long long area() const;

  private:
    void hold(int index, const Rect& rect);
    void drop(int index);  // the last rectangle takes its place
    void mark(const Rect& rect, int index, bool on);
    std::uint64_t near(const Rect& rect) const;

    Rect rects_[kCapacity];
    int count_ = 0;
    std::uint64_t bands_[kBands] = {};
};
