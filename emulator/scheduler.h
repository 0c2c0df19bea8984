#pragma once
// The emulated clock's scheduler (internal to the emulator), shared by the
// clock's two files: clock.cpp, where the game's threads sleep, start and
// join, and clock_pace.cpp, where a host that paces virtual time, or a
// replay, moves the clock.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "emulator/emulator.h"
#include "platform/os.h"

namespace emu::clock::detail {

constexpr int kMaxSleepers = 16;
constexpr int kMaxSleepHooks = 8;
constexpr int kMaxThreadStarts = 8;
constexpr std::int64_t kNsPerMs = 1000000;

struct Timed {
    std::int64_t at_ns;
    emu::TimedAction action;
    void* context;
    int signal_number;  // nonzero: raise this signal instead of calling action
};

struct SleepHookEntry {
    emu::SleepHook hook;
    void* context;
};

struct Sleeper {
    std::int64_t wake_ns;
    std::uint64_t ticket;  // the order of going to sleep, which breaks ties
};

// A thread the game started, as its start left it.
struct ThreadStart {
    os::ThreadEntry entry;
    std::atomic<std::uintptr_t> id;  // written by the thread itself as it starts
};

struct Scheduler {
    std::mutex lock;
    bool virtual_time = false;
    bool replayed_time = false;  // the clock follows a replay
    std::int64_t now_ns = emu::kVirtualStartMs * kNsPerMs;
    std::int64_t limit_ns = emu::kUnpaced;  // virtual time goes no further
    int game_threads = 1;  // threads taking part: the main thread and those it started
    int waiting = 0;       // of those, asleep or joining
    Sleeper sleepers[kMaxSleepers] = {};
    int sleeper_count = 0;
    std::uint64_t next_ticket = 1;
    std::uint64_t woken_ticket = 0;  // the one sleeper allowed to wake now; 0 for none
    Timed timed[emu::kMaxTimedActions] = {};
    int timed_count = 0;
    SleepHookEntry sleep_hooks[kMaxSleepHooks] = {};
    int sleep_hook_count = 0;
    // Timed actions running now (with the lock let go): no game thread may
    // wake meanwhile, even spuriously, or it would race the action.
    int actions_running = 0;
    // Read without the lock by any thread asking whether it is one of them.
    ThreadStart thread_starts[kMaxThreadStarts] = {};
    std::atomic<int> thread_start_count{0};
};

Scheduler& scheduler();

// Whether threads take turns at every sleep, not only in virtual time.
bool in_turns(const Scheduler& s);

// Runs the timed actions that are due at or before until_ns, in order.
// Called with the lock held; every game thread is blocked meanwhile.
void run_due(Scheduler& s, std::unique_lock<std::mutex>& hold, std::int64_t until_ns);

// When every game thread waits, moves the clock to the earliest wake time
// and lets the one sleeper due first wake (called with the lock held).
void advance_if_idle(Scheduler& s, std::unique_lock<std::mutex>& hold);

// Whether the calling thread is one the game started; the game's main
// thread is the one that is not.
bool started_by_game(const Scheduler& s);

}  // namespace emu::clock::detail
