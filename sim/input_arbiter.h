#pragma once
// The one owner of the emulated buttons. Every source of input says what it
// holds (keys, on-screen buttons, pointer steering, a gamepad, a script, the
// built-in player, a pause asked for by the front end), and this turns all
// of it into the single reading the goggles' button ladder gives the game.
//
// The ladder reads one button at a time, and the game makes a press only of
// a button it accepts after accepting no button (two equal polls each). So a
// player's new press while another button is down would be lost if the
// reading went straight from one to the other: instead the reading lets go
// until the game has accepted no button, shows the new button until the game
// has accepted it and at least kMinHoldMs have passed, and then returns to
// what is still held. Every press counts that way, however short the tap,
// however many come at once, and however late the game polls.
//
// The player's sources come first (the latest held button wins), then a
// script, then the built-in player. Their changes may come from any thread;
// reading() runs where the game's buttons are read.
#include <cstdint>
#include <mutex>

#include "devices/button_code.h"

namespace sim {

// The first four are numbered for the web page, which names its sources so.
enum class InputSource { Keys = 0, Touch = 1, Pointer = 2, Gamepad = 3, Pause, Script, Autoplay };

class InputArbiter {
  public:
    // A press is shown at least this long, so that two polls 40 ms apart
    // see it even when one of them is late.
    static constexpr std::int64_t kMinHoldMs = 150;
    static constexpr int kCapacity = 16;  // buttons held, and presses waiting

    // A player's button went down (key names it within its source; a repeat
    // of a key already down changes nothing) or up. A press is shown even if
    // it is let go before its turn comes. Beyond kCapacity, the oldest held
    // button is forgotten and further waiting presses are dropped.
    void press(InputSource source, int key, ButtonCode button);
    void release(InputSource source, int key);
    // Every player's button let go, steering included (the window or tab
    // lost the keyboard).
    void release_all();

    // A source that holds one button at a time and changes it without
    // making a press of it: pointer steering, a script, the built-in player.
    // kButtonNone: it holds nothing.
    void hold(InputSource source, ButtonCode button);

    // True while a source other than the built-in player decides the
    // reading: it then stands back, as a player's thumb would.
    bool others_decide() const;

    // The reading the game should get from now on. accepted: the button the
    // game has accepted (its debounced state), or kUnknown where that cannot
    // be read; presses then wait for a call that knows it.
    static constexpr ButtonCode kUnknown = -1;
    ButtonCode reading(std::int64_t now_ms, ButtonCode accepted);

    // Presses the game has taken so far.
    long presses() const;

  private:
    struct Held {
        InputSource source;
        int key;
        ButtonCode button;
    };
    enum class Step { Free, LettingGo, Pressing };

    int find(InputSource source, int key) const;
    void remove_at(int index);
    ButtonCode held_button() const;
    bool others_decide_locked() const;

    mutable std::mutex lock_;
    Held held_[kCapacity] = {};
    int held_count_ = 0;
    ButtonCode waiting_[kCapacity] = {};  // presses not yet shown, oldest first
    int waiting_count_ = 0;
    ButtonCode script_ = kButtonNone;
    ButtonCode autoplay_ = kButtonNone;

    Step step_ = Step::Free;
    ButtonCode pressing_ = kButtonNone;
    ButtonCode output_ = kButtonNone;
    std::int64_t output_since_ms_ = 0;
    long presses_ = 0;
};

}  // namespace sim
