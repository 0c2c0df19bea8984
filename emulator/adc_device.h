#pragma once
// The emulated ADC behind /dev/mem: one 4096-byte register page at
// physical address 0x60632000 whose sample register follows the button a
// test (or the simulator's keyboard) holds.
//
// The game maps the page and reads it as plain memory, so the device cannot
// see single accesses. Instead every input change waits for the game's next
// sleep: when the thread that mapped the page goes to sleep, the device
// latches the held input into the sample register (0x810). A keys_read that
// sleeps 9 ms between its two samples therefore sees a change made in
// between, and one that does not sleep sees a steady value. Only that
// thread's sleeps count, so what the game reads never depends on when the
// sound thread happens to sleep.
#include <cstdint>

#include "devices/button_code.h"

namespace emu::adc {

constexpr long long kPhysicalBase = 0x60632000;
constexpr std::uint32_t kPageSize = 4096;

// The registers the game touches.
constexpr std::uint32_t kControl = 0x018;  // 6 before a sample; must still be 6 after it
constexpr std::uint32_t kStatus = 0x038;   // low byte 6 when the ADC is set up
constexpr std::uint32_t kConfig = 0x040;   // 140 before a sample
constexpr std::uint32_t kChannel = 0x800;  // 6 before a sample
constexpr std::uint32_t kSample = 0x810;   // the latched sample, in counts

// The sample in the middle of a button's ladder window (8: no button, 0).
std::uint32_t sample_for(ButtonCode code);

// Holds a button (8 releases it): from the next sleep on, the sample is the
// middle of its window.
void hold_button(ButtonCode code);
// Holds a raw sample in counts instead, latched the same way.
void set_sample(std::uint32_t counts);
// The held input now (the sample that the next sleep latches).
std::uint32_t held_sample();

// For the next sleep only, the sample register takes counts instead of the
// held input; the sleep after it brings the held input back. Set while the
// game is between its first sample and the 9 ms wait, it becomes the second
// sample.
void set_next_sample(std::uint32_t counts);

// At the next sleep the control register 0x018 is overwritten with value,
// as if something else had used the ADC during a sample.
void disturb_control(std::uint32_t value);

// Without the ADC, /dev/mem cannot be opened (ENOENT).
void set_present(bool present);

// The register page as the game sees it (offsets are byte offsets of
// 32-bit registers). set_register is for preparing a start state.
std::uint32_t read_register(std::uint32_t offset);
void set_register(std::uint32_t offset, std::uint32_t value);

bool mapped();
// Inputs latched into the sample register so far.
int latch_count();

}  // namespace emu::adc
