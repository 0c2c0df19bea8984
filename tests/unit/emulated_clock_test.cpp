// The emulated goggles' virtual time: who wakes when, and in which order,
// which is what makes every run on them the same.
#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "platform/os.h"

namespace {

// What happened, in order: "who@µs", the time counted from the start.
struct Events {
    std::mutex lock;
    std::vector<std::string> seen;
};
Events events;

void note(const char* who) {
    const std::int64_t at_us = (emu::clock_ns() - emu::kVirtualStartMs * 1000000) / 1000;
    std::lock_guard<std::mutex> hold(events.lock);
    events.seen.push_back(std::string(who) + "@" + std::to_string(at_us));
}

// A game thread that sleeps the given times one after the other, and notes
// each wake.
struct Sleeper {
    const char* name;
    std::vector<unsigned> sleeps_us;
};
constexpr int kMaxSleepers = 3;
const Sleeper* sleepers[kMaxSleepers] = {};

template <int Index>
int run_sleeper() {
    for (unsigned sleep_us : sleepers[Index]->sleeps_us) {
        os::sleep_us(sleep_us);
        note(sleepers[Index]->name);
    }
    return 0;
}
constexpr os::ThreadEntry kSleeperEntries[kMaxSleepers] = {run_sleeper<0>, run_sleeper<1>,
                                                           run_sleeper<2>};

struct Action {
    const char* name;
    std::int64_t at_ms;  // from the start
};

struct OrderCase {
    const char* name;
    std::vector<Sleeper> sleepers;  // started in this order, all at the start
    std::vector<Action> actions;
    std::vector<std::string> expected;
};

// Threads that go to sleep at the same instant do so in no set order, so
// the cases give each sleeper due with others a wake time of its own before.
TEST(EmulatedClock, WakesEarliestFirstThenInTheOrderOfGoingToSleepAfterTheActionsDue) {
    const OrderCase cases[] = {
        {"the earlier wake time first, though its sleeper went to sleep later",
         {{"A", {3000}}, {"B", {1000, 1000}}},
         {},
         {"B@1000", "B@2000", "A@3000"}},
        // C goes to sleep at the start, A at 1 ms and B at 2 ms; all three
        // are due at 3 ms. Waking A and B has them change places with C in
        // the scheduler's table, whose order must not count.
        {"due together: in the order of going to sleep",
         {{"A", {1000, 2000}}, {"B", {2000, 1000}}, {"C", {3000}}},
         {},
         {"A@1000", "B@2000", "C@3000", "A@3000", "B@3000"}},
        {"due together, a later started thread went to sleep first",
         {{"A", {2000, 1000}}, {"B", {1000, 2000}}, {"C", {3000}}},
         {},
         {"B@1000", "A@2000", "C@3000", "B@3000", "A@3000"}},
        {"an action due at a wake time runs before that thread wakes",
         {{"A", {2000}}, {"B", {5000}}},
         {{"X", 2}},
         {"X@2000", "A@2000", "B@5000"}},
        {"an action due a microsecond after a wake time runs after it",
         {{"A", {1999, 2000}}, {"B", {5000}}},
         {{"X", 2}},
         {"A@1999", "X@2000", "A@3999", "B@5000"}},
        {"actions due with sleepers: every one of them before any sleeper wakes",
         {{"A", {1000, 2000}}, {"B", {2000, 1000}}},
         {{"X", 3}, {"Y", 3}},
         {"A@1000", "B@2000", "X@3000", "Y@3000", "A@3000", "B@3000"}},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.name);
        emu::reset();
        emu::use_virtual_time(true);
        events.seen.clear();
        for (const Action& action : c.actions) {
            emu::at_time(
                emu::kVirtualStartMs + action.at_ms,
                [](void* who) { note(static_cast<const char*>(who)); },
                const_cast<char*>(action.name));
        }
        const int count = static_cast<int>(c.sleepers.size());
        ASSERT_LE(count, kMaxSleepers);
        os::Thread threads[kMaxSleepers];
        for (int i = 0; i < count; ++i) {
            sleepers[i] = &c.sleepers[i];
            ASSERT_EQ(os::thread_start(&threads[i], kSleeperEntries[i]), 0);
        }
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(os::thread_join(threads[i]), 0);
        EXPECT_EQ(events.seen, c.expected);
    }
    emu::reset();
}

// A thread's start and join answer an error number, as pthread_create and
// pthread_join do, not -1 with errno: when a fault fails them, and when the
// game starts more threads than the emulated goggles keep.
TEST(EmulatedClock, ThreadCallsFailWithTheErrorNumberItself) {
    struct Case {
        const char* name;
        emu::Call call;
        int start_error;
        int join_error;
    };
    const Case cases[] = {
        {"start", emu::Call::ThreadStart, EAGAIN, 0},
        {"join", emu::Call::ThreadJoin, 0, EDEADLK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emu::reset();
        emu::use_virtual_time(true);
        emu::add_fault({c.call, nullptr, 1, emu::Action::Fail, c.start_error + c.join_error});
        os::Thread thread;
        EXPECT_EQ(os::thread_start(&thread, [] { return 0; }), c.start_error);
        if (c.start_error != 0)
            continue;
        EXPECT_EQ(os::thread_join(thread), c.join_error);
        // The fault stood in for the first join only.
        EXPECT_EQ(os::thread_join(thread), 0);
    }

    SCOPED_TRACE("more threads than the goggles keep");
    emu::reset();
    emu::use_virtual_time(true);
    os::Thread threads[64];
    int started = 0;
    int error = 0;
    while (started < 64 && (error = os::thread_start(&threads[started], [] { return 0; })) == 0)
        started += 1;
    EXPECT_EQ(error, EAGAIN);
    for (int i = 0; i < started; ++i)
        EXPECT_EQ(os::thread_join(threads[i]), 0);
    emu::reset();
}

}  // namespace
