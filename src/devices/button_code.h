#pragma once

// One raw reading of the button ladder: 0..7 are the ladder positions, 8 is
// no button. The game gives some of them roles.
using ButtonCode = int;

constexpr ButtonCode kButtonMiddle = 0;
constexpr ButtonCode kButtonLeft = 2;
constexpr ButtonCode kButtonRight = 3;
constexpr ButtonCode kButtonMiddleAlt = 4;  // a second MIDDLE position, treated alike
constexpr ButtonCode kButtonPlay = 6;
constexpr ButtonCode kButtonBack = 7;
constexpr ButtonCode kButtonNone = 8;

constexpr bool is_middle(ButtonCode code) {
    return code == kButtonMiddle || code == kButtonMiddleAlt;
}
