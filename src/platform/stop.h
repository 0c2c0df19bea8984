#pragma once
#include <atomic>

// The process-wide stop request: set to 1 by the signal handler, the PLAY
// exit gesture and shutdown; read by the main loop and the sound thread.
// Never cleared. Process-wide because a signal handler must reach it, and
// lock-free so that one may store into it.
extern std::atomic<int> stop_flag;
static_assert(std::atomic<int>::is_always_lock_free);
