#pragma once
// The keys held down, in the order they went down. The goggles' ladder
// reads one button at a time, so the button held is the one of the latest
// key still down: holding LEFT and tapping Space fires and then goes on
// moving left.
#include "devices/button_code.h"

namespace sim {

class HeldKeys {
  public:
    static constexpr int kCapacity = 8;

    // A key went down (key: any number naming the key); repeats of a key
    // already down change nothing. Beyond the capacity, the oldest is
    // forgotten.
    void press(int key, ButtonCode button);
    void release(int key);
    // Everything let go (the window lost the keyboard).
    void clear() { count_ = 0; }
    ButtonCode button() const { return count_ ? buttons_[count_ - 1] : kButtonNone; }

  private:
    int keys_[kCapacity] = {};
    ButtonCode buttons_[kCapacity] = {};
    int count_ = 0;
};

}  // namespace sim
