#pragma once
// The keyboard as the goggles' buttons, the same in the desktop window and
// in the web page: one table, which the window reads and the page gets
// through its contract (web/make_contract.cpp).
//
// A key is named by where it sits, not by what its cap says, so both front
// ends take the same keys on any layout: code is the browser's name for the
// key (KeyboardEvent.code), usage its number on the USB keyboard page, which
// is also SDL's scancode. The usage names the key to the InputArbiter
// within the keys' source, in either front end.
#include "devices/button_code.h"

namespace sim {

// Not a button: the key turns full screen on and off.
constexpr ButtonCode kFullScreenKey = -1;

struct KeyBinding {
    const char* code;
    int usage;
    ButtonCode button;  // or kFullScreenKey
};

inline constexpr KeyBinding kKeyBindings[] = {
    {"ArrowLeft", 0x50, kButtonLeft},     {"ArrowRight", 0x4f, kButtonRight},
    {"Space", 0x2c, kButtonMiddle},       {"Enter", 0x28, kButtonMiddle},
    {"NumpadEnter", 0x58, kButtonMiddle}, {"Escape", 0x29, kButtonBack},
    {"KeyP", 0x13, kButtonBack},          {"KeyQ", 0x14, kButtonPlay},
    {"F11", 0x44, kFullScreenKey},        {"KeyF", 0x09, kFullScreenKey},
};

// The binding of the key with this usage, or nullptr for a key of no use.
constexpr const KeyBinding* key_binding(int usage) {
    for (const KeyBinding& binding : kKeyBindings) {
        if (binding.usage == usage)
            return &binding;
    }
    return nullptr;
}

}  // namespace sim
