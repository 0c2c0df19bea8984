#pragma once
// One sound request, as the game asks for it and the sound thread plays it.
#include <cstdint>

// A square wave at freq_hz for duration_ms.
struct Tone {
    std::uint32_t freq_hz = 0;
    std::uint32_t duration_ms = 0;
};
