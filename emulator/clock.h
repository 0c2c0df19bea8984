#pragma once
// The emulated clock and the lockstep scheduler behind os::sleep_us,
// os::thread_start and os::thread_join (internal to the emulator).
#include <cstdint>

#include "platform/os.h"

namespace emu::clock {

void reset();
int sleep_us(unsigned microseconds);
int thread_start(os::Thread* thread, os::ThreadEntry entry);
int thread_join(os::Thread thread);

}  // namespace emu::clock
