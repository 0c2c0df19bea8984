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

// Whether the calling thread is the game's main thread: not one it started.
bool on_main_thread();

// Real nanoseconds until the game thread whose turn it is may wake (0 in
// virtual time), or -1 when no thread's turn has come (every thread
// running, or nothing left to wake).
std::int64_t real_wait_ns();

// Replayed time (see replay.h): the clock stands at start_ns and moves
// only as the main thread's replayed readings move it, running the timed
// actions they reach; the main thread's sleeps do not wait.
void replay_from(std::int64_t start_ns);
void replay_reached(std::int64_t now_ns);
// Replayed time under a host that paces the clock (fibers): the calling
// thread hands over until the host's limit reaches now_ns, and true is
// answered; false where no host paces it (the caller keeps the pace).
bool wait_for_pace(std::int64_t now_ns);

}  // namespace emu::clock
