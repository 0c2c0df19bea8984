// The emulated clock driven from outside the game: a host that paces
// virtual time (the web page, by the display) raises the clock's limit and
// learns when the next thread is due; a replay moves replayed time with
// the game's readings, waiting for the host's pace where there is one.
#include <algorithm>
#include <mutex>

#include "emulator/clock.h"
#include "emulator/emulator.h"
#include "emulator/host_clock.h"
#include "emulator/scheduler.h"
#include "emulator/turns.h"

namespace emu {

using namespace clock::detail;

void pace_virtual_time(std::int64_t limit_ns) {
    Scheduler& s = scheduler();
    std::unique_lock<std::mutex> hold(s.lock);
    s.limit_ns = limit_ns;
    if (s.woken_ticket == 0)
        advance_if_idle(s, hold);
}

namespace clock {

std::int64_t real_wait_ns() {
    Scheduler& s = scheduler();
    std::lock_guard<std::mutex> hold(s.lock);
    for (int i = 0; i < s.sleeper_count; ++i) {
        if (s.sleepers[i].ticket == s.woken_ticket)
            return s.virtual_time
                       ? 0
                       : std::max<std::int64_t>(0, s.sleepers[i].wake_ns - host_now_ns());
    }
    return -1;
}

void replay_from(std::int64_t start_ns) {
    Scheduler& s = scheduler();
    std::lock_guard<std::mutex> hold(s.lock);
    s.virtual_time = false;
    s.replayed_time = true;
    s.now_ns = start_ns;
}

namespace {
struct PaceWait {
    const Scheduler* s;
    std::int64_t now_ns;
};
bool paced_up_to(const void* context) {
    const PaceWait& wait = *static_cast<const PaceWait*>(context);
    return wait.s->limit_ns >= wait.now_ns;
}
}  // namespace

bool wait_for_pace(std::int64_t now_ns) {
    Scheduler& s = scheduler();
    std::unique_lock<std::mutex> hold(s.lock);
    if (s.limit_ns == kUnpaced || !emu::turns::in_turns_always())
        return false;
    const PaceWait wait = {&s, now_ns};
    emu::turns::wait(hold, paced_up_to, &wait);
    return true;
}

void replay_reached(std::int64_t now_ns) {
    Scheduler& s = scheduler();
    std::unique_lock<std::mutex> hold(s.lock);
    if (now_ns > s.now_ns)
        s.now_ns = now_ns;
    run_due(s, hold, s.now_ns);
}

}  // namespace clock
}  // namespace emu
