#include "sim/held_keys.h"

namespace sim {

void HeldKeys::press(int key, ButtonCode button) {
    for (int i = 0; i < count_; ++i) {
        if (keys_[i] == key)
            return;
    }
    if (count_ == kCapacity) {
        for (int i = 1; i < count_; ++i) {
            keys_[i - 1] = keys_[i];
            buttons_[i - 1] = buttons_[i];
        }
        count_ -= 1;
    }
    keys_[count_] = key;
    buttons_[count_] = button;
    count_ += 1;
}

void HeldKeys::release(int key) {
    int kept = 0;
    for (int i = 0; i < count_; ++i) {
        if (keys_[i] == key)
            continue;
        keys_[kept] = keys_[i];
        buttons_[kept] = buttons_[i];
        kept += 1;
    }
    count_ = kept;
}

}  // namespace sim
