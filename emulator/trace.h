#pragma once
// The trace of a run on the emulated goggles (internal to the emulator): the
// folder its files go to, the log of the calls through the seam, and what
// the game wrote to standard error. What a test asks of it is in
// emulator.h.
#include <cstddef>

#include "emulator/emulator.h"

namespace emu {

// Writes the whole text to a trace file's descriptor (nothing for -1).
void trace_write(int fd, const char* text, std::size_t size);

namespace trace {

// No trace folder, no call log, nothing written.
void reset();
// One call through the seam, as a line of the call log when calls are logged.
void log_call(Call call, const char* target, long result, int err);
// What the game writes to standard error: kept, traced and, when asked,
// echoed to the real standard error.
void standard_error(const char* text, std::size_t size);

}  // namespace trace
}  // namespace emu
