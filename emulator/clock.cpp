// Real or virtual time for the emulated goggles.
//
// Virtual time is a lockstep scheduler, not a counter: every game thread
// that sleeps registers its wake time and blocks; once every game thread is
// asleep (or the main thread waits in a join), the timed actions due by the
// earliest wake time run, the clock jumps to it and that thread alone
// wakes. Threads due at the same instant wake in the order they went to
// sleep. So the main loop's passes and the sound thread's tones interleave
// as they would in real time, in the same order on every run, and a whole
// run takes only the machine's time.
//
// The rules hold alike for real threads and for fibers taking turns on one
// thread (turns.h). Fibers take turns in real time too: a sleeping fiber's
// turn comes once the real clock reaches its wake time.
#include "emulator/clock.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "emulator/emulator.h"
#include "emulator/host_clock.h"
#include "emulator/scheduler.h"
#include "emulator/turns.h"

namespace emu::clock::detail {

// The sleeper due first: the earliest wake time, then the order of going
// to sleep.
bool due_before(const Sleeper& a, const Sleeper& b) {
    return a.wake_ns != b.wake_ns ? a.wake_ns < b.wake_ns : a.ticket < b.ticket;
}

Scheduler& scheduler() {
    static Scheduler instance;
    return instance;
}

// Whether threads take turns at every sleep, not only in virtual time.
bool in_turns(const Scheduler& s) {
    return s.virtual_time || emu::turns::in_turns_always();
}

// Runs the timed actions that are due at or before the given time, in order.
// Called with the lock held; every game thread is blocked meanwhile.
// The lock is let go while an action runs, so that it may use the control
// panel (schedule more, press a button) freely.
void run_due(Scheduler& s, std::unique_lock<std::mutex>& hold, std::int64_t until_ns) {
    while (s.timed_count > 0) {
        int first = 0;
        for (int i = 1; i < s.timed_count; ++i) {
            if (s.timed[i].at_ns < s.timed[first].at_ns)
                first = i;
        }
        if (s.timed[first].at_ns > until_ns)
            return;
        Timed due = s.timed[first];
        s.timed[first] = s.timed[--s.timed_count];
        if (s.virtual_time && due.at_ns > s.now_ns)
            s.now_ns = due.at_ns;
        s.actions_running += 1;
        hold.unlock();
        if (due.signal_number != 0) {
            kill(getpid(), due.signal_number);
        } else {
            due.action(due.context);
        }
        hold.lock();
        s.actions_running -= 1;
    }
}

// When every game thread waits, moves the clock to the earliest wake time
// and lets the one sleeper due first wake.
// In real time (fibers) the clock is not moved: the sleeper waits for it.
void advance_if_idle(Scheduler& s, std::unique_lock<std::mutex>& hold) {
    if (!in_turns(s) || s.waiting < s.game_threads || s.sleeper_count == 0)
        return;
    const Sleeper first = *std::min_element(s.sleepers, s.sleepers + s.sleeper_count, due_before);
    // Paced: the one due first waits for its host to raise the limit.
    if (s.virtual_time && first.wake_ns > s.limit_ns)
        return;
    if (s.virtual_time && first.wake_ns > s.now_ns) {
        run_due(s, hold, first.wake_ns);
        if (first.wake_ns > s.now_ns)
            s.now_ns = first.wake_ns;
    }
    s.woken_ticket = first.ticket;
    emu::turns::changed();
}

// Whether the calling thread is one the game started; the game's main
// thread is the one that is not.
bool started_by_game(const Scheduler& s) {
    const std::uintptr_t self = emu::turns::self();
    const int count = s.thread_start_count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        if (s.thread_starts[i].id.load(std::memory_order_relaxed) == self)
            return true;
    }
    return false;
}

}  // namespace emu::clock::detail

namespace {

using namespace emu::clock::detail;

void schedule(const Timed& timed) {
    Scheduler& s = scheduler();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.timed_count < emu::kMaxTimedActions)
        s.timed[s.timed_count++] = timed;
}

void remove_sleeper(Scheduler& s, std::uint64_t ticket) {
    for (int i = 0; i < s.sleeper_count; ++i) {
        if (s.sleepers[i].ticket == ticket) {
            s.sleepers[i] = s.sleepers[--s.sleeper_count];
            return;
        }
    }
}

// A game thread waiting for its turn: it may wake once it is the one woken,
// no timed action runs, and (in real time) the real clock has reached its
// wake time.
struct Turn {
    const Scheduler* s;
    std::uint64_t ticket;
    std::int64_t wake_ns;
};

bool turn_come(const void* context) {
    const Turn& turn = *static_cast<const Turn*>(context);
    const Scheduler& s = *turn.s;
    return s.woken_ticket == turn.ticket && s.actions_running == 0 &&
           (s.virtual_time || emu::host_now_ns() >= turn.wake_ns);
}

void* run_game_thread(void* start) {
    auto* thread = static_cast<ThreadStart*>(start);
    thread->id = emu::turns::self();
    thread->entry();
    Scheduler& s = scheduler();
    std::unique_lock<std::mutex> hold(s.lock);
    s.game_threads -= 1;
    advance_if_idle(s, hold);
    return nullptr;
}

}  // namespace

namespace emu {

void use_virtual_time(bool on) {
    Scheduler& s = scheduler();
    std::lock_guard<std::mutex> hold(s.lock);
    s.virtual_time = on;
}

std::int64_t clock_ns() {
    Scheduler& s = scheduler();
    if (s.replayed_time) {
        std::lock_guard<std::mutex> hold(s.lock);
        return s.now_ns;
    }
    if (!s.virtual_time) {
        std::unique_lock<std::mutex> hold(s.lock);
        run_due(s, hold, emu::host_now_ns());
        return emu::host_now_ns();
    }
    std::lock_guard<std::mutex> hold(s.lock);
    return s.now_ns;
}

void at_time(std::int64_t at_ms, TimedAction action, void* context) {
    schedule({at_ms * kNsPerMs, action, context, 0});
}

void raise_signal_at(std::int64_t at_ms, int signal_number) {
    schedule({at_ms * kNsPerMs, nullptr, nullptr, signal_number});
}

void add_sleep_hook(SleepHook hook, void* context) {
    Scheduler& s = scheduler();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.sleep_hook_count < kMaxSleepHooks)
        s.sleep_hooks[s.sleep_hook_count++] = {hook, context};
}

namespace clock {

void reset() {
    Scheduler& s = scheduler();
    std::lock_guard<std::mutex> hold(s.lock);
    s.virtual_time = false;
    s.replayed_time = false;
    s.now_ns = kVirtualStartMs * kNsPerMs;
    s.limit_ns = kUnpaced;
    s.game_threads = 1;
    s.waiting = 0;
    s.sleeper_count = 0;
    s.next_ticket = 1;
    s.woken_ticket = 0;
    s.timed_count = 0;
    s.sleep_hook_count = 0;
    s.thread_start_count = 0;
}

int sleep_us(unsigned microseconds) {
    Scheduler& s = scheduler();
    std::unique_lock<std::mutex> hold(s.lock);
    std::int64_t wake_ns = (s.virtual_time ? s.now_ns : emu::host_now_ns()) +
                           static_cast<std::int64_t>(microseconds) * 1000;
    for (int i = 0; i < s.sleep_hook_count; ++i)
        s.sleep_hooks[i].hook(s.sleep_hooks[i].context, wake_ns);
    if (s.replayed_time && !started_by_game(s))
        return 0;
    if (!in_turns(s)) {
        hold.unlock();
        struct timespec want = {static_cast<time_t>(microseconds / 1000000),
                                static_cast<long>(microseconds % 1000000) * 1000};
        // Whole, like the goggles' own sleep: a handled signal does not cut it.
        struct timespec left = {};
        int result = 0;
        while ((result = nanosleep(&want, &left)) != 0 && errno == EINTR)
            want = left;
        hold.lock();
        if (!s.replayed_time)
            run_due(s, hold, emu::host_now_ns());
        return result;
    }
    if (s.sleeper_count >= kMaxSleepers)
        return 0;
    const std::uint64_t ticket = s.next_ticket++;
    s.sleepers[s.sleeper_count++] = {wake_ns, ticket};
    s.waiting += 1;
    advance_if_idle(s, hold);
    const Turn turn = {&s, ticket, wake_ns};
    emu::turns::wait(hold, turn_come, &turn);
    s.woken_ticket = 0;
    remove_sleeper(s, ticket);
    s.waiting -= 1;
    if (!s.virtual_time && !s.replayed_time)
        run_due(s, hold, emu::host_now_ns());
    return 0;
}

int thread_start(os::Thread* thread, os::ThreadEntry entry) {
    Scheduler& s = scheduler();
    ThreadStart* start;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        const int count = s.thread_start_count.load(std::memory_order_relaxed);
        if (count >= kMaxThreadStarts)
            return EAGAIN;
        start = &s.thread_starts[count];
        start->entry = entry;
        start->id.store(0, std::memory_order_relaxed);
        s.thread_start_count.store(count + 1, std::memory_order_release);
        s.game_threads += 1;
    }
    int err = emu::turns::start(&thread->handle, run_game_thread, start);
    if (err != 0) {
        std::lock_guard<std::mutex> hold(s.lock);
        s.game_threads -= 1;
        return err;
    }
    return 0;
}

int thread_join(os::Thread thread) {
    Scheduler& s = scheduler();
    {
        // The joining thread counts as waiting, so the clock runs on and the
        // thread being joined can finish its sleeps.
        std::unique_lock<std::mutex> hold(s.lock);
        s.waiting += 1;
        advance_if_idle(s, hold);
    }
    int err = emu::turns::join(thread.handle);
    std::lock_guard<std::mutex> hold(s.lock);
    s.waiting -= 1;
    return err;
}

bool on_main_thread() {
    return !started_by_game(scheduler());
}

}  // namespace clock
}  // namespace emu
