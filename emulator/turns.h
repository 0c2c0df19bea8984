#pragma once
// How the emulated goggles' threads run and wait (internal to the
// emulator). The clock (clock.cpp) decides who wakes and when; this decides
// only how: real threads that block on a condition, or, in the browser's
// build without threads, fibers that take turns on one thread and hand
// over to a scheduler whenever they wait.
#include <cstdint>
#include <mutex>

namespace emu::turns {

// Whether every sleep waits its turn, in real time as well as in virtual
// time (fibers: a sleeping fiber must hand over, it cannot block).
bool in_turns_always();

// With hold locked: blocks the calling game thread until ready(context)
// holds, letting go of the lock meanwhile.
using Ready = bool (*)(const void* context);
void wait(std::unique_lock<std::mutex>& hold, Ready ready, const void* context);

// What a waiting thread waits for may have changed (called with the lock).
void changed();

// Runs entry(arg) on a thread (or fiber) of its own; handle names it.
int start(std::uintptr_t* handle, void* (*entry)(void*), void* arg);
// Waits until that thread has ended.
int join(std::uintptr_t handle);
// The calling thread (or fiber), as start's handle named it.
std::uintptr_t self();

}  // namespace emu::turns
