#include "sim/input_arbiter.h"

namespace sim {

int InputArbiter::find(InputSource source, int key) const {
    for (int i = 0; i < held_count_; ++i) {
        if (held_[i].source == source && held_[i].key == key)
            return i;
    }
    return -1;
}

void InputArbiter::remove_at(int index) {
    for (int i = index + 1; i < held_count_; ++i)
        held_[i - 1] = held_[i];
    held_count_ -= 1;
}

void InputArbiter::press(InputSource source, int key, ButtonCode button) {
    std::lock_guard<std::mutex> hold(lock_);
    if (find(source, key) >= 0)
        return;
    if (held_count_ == kCapacity)
        remove_at(0);
    held_[held_count_++] = Held{source, key, button};
    if (waiting_count_ < kCapacity)
        waiting_[waiting_count_++] = button;
}

void InputArbiter::release(InputSource source, int key) {
    std::lock_guard<std::mutex> hold(lock_);
    if (const int index = find(source, key); index >= 0)
        remove_at(index);
}

void InputArbiter::release_all() {
    std::lock_guard<std::mutex> hold(lock_);
    held_count_ = 0;
}

void InputArbiter::hold(InputSource source, ButtonCode button) {
    std::lock_guard<std::mutex> hold(lock_);
    if (source == InputSource::Script) {
        script_ = button;
    } else if (source == InputSource::Autoplay) {
        autoplay_ = button;
    } else {
        // A steady holder keeps one place among the player's buttons, at
        // the top once it starts holding something.
        const int index = find(source, 0);
        if (index >= 0)
            remove_at(index);
        if (button != kButtonNone && held_count_ < kCapacity)
            held_[held_count_++] = Held{source, 0, button};
    }
}

ButtonCode InputArbiter::held_button() const {
    if (held_count_ > 0)
        return held_[held_count_ - 1].button;
    if (script_ != kButtonNone)
        return script_;
    return autoplay_;
}

bool InputArbiter::others_decide_locked() const {
    return held_count_ > 0 || waiting_count_ > 0 || step_ != Step::Free || script_ != kButtonNone;
}

long InputArbiter::presses() const {
    std::lock_guard<std::mutex> hold(lock_);
    return presses_;
}

bool InputArbiter::others_decide() const {
    std::lock_guard<std::mutex> hold(lock_);
    return others_decide_locked();
}

ButtonCode InputArbiter::reading(std::int64_t now_ms, ButtonCode accepted) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto show = [&](ButtonCode button) {
        if (button != output_) {
            output_ = button;
            output_since_ms_ = now_ms;
        }
    };
    const bool known = accepted != kUnknown;
    if (step_ == Step::Pressing && known && accepted == pressing_ &&
        now_ms - output_since_ms_ >= kMinHoldMs) {
        step_ = Step::Free;
        presses_ += 1;
    }
    if (step_ == Step::Free && waiting_count_ > 0 && known) {
        pressing_ = waiting_[0];
        for (int i = 1; i < waiting_count_; ++i)
            waiting_[i - 1] = waiting_[i];
        waiting_count_ -= 1;
        step_ = Step::LettingGo;
    }
    if (step_ == Step::LettingGo) {
        show(kButtonNone);
        if (known && accepted == kButtonNone) {
            step_ = Step::Pressing;
            show(pressing_);
        }
    }
    // Presses still waiting keep the reading as it is: a held button shown
    // straight after another would never be a press.
    if (step_ == Step::Free && waiting_count_ == 0)
        show(held_button());
    return output_;
}

}  // namespace sim
