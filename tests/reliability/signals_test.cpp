// SIGINT and SIGTERM at every step: at each call of start-up (among them the
// mode gate's pause), during frames, during the PLAY hold and at each step
// of shutdown. Before its handler is installed a signal takes its default
// action; after it, the game goes through its normal shutdown. No run hangs.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulator.h"
#include "platform/os.h"
#include "scripted_game.h"
#include "shell/high_score.h"

namespace {

// The reference run, with a pause in the mode gate.
struct Reference {
    GameResult result;
    std::vector<CallLine> calls;
};
const Reference& reference() {
    static Reference* recorded = [] {
        auto* r = new Reference;
        ScriptOptions options;
        options.gate_pause = true;
        r->result = run_game(scripted_game(options));
        r->calls = parse_calls(r->result.trace("calls.txt"));
        return r;
    }();
    return *recorded;
}

long index_of(const std::vector<CallLine>& calls, const std::string& call,
              const std::string& target, bool last = false) {
    long found = -1;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].call == call && calls[i].target == target) {
            found = static_cast<long>(i);
            if (!last)
                break;
        }
    }
    return found;
}

// Runs the reference script with signal_number raised at calls[index],
// before or after the call is carried out.
GameResult signal_at(const Reference& ref, std::size_t index, int signal_number, bool after) {
    const CallLine& line = ref.calls[index];
    emu::Fault fault;
    EXPECT_TRUE(call_kind(line.call, &fault.call)) << line.call;
    fault.occurrence = fault_occurrence(ref.calls, index);
    fault.action = emu::Action::RaiseSignal;
    fault.value = signal_number;
    fault.after = after;
    const char* target = fault_target(line);
    ScriptOptions options;
    options.gate_pause = true;
    options.setup = [fault, target]() mutable {
        fault.target = target;
        emu::add_fault(fault);
    };
    return run_game(scripted_game(options));
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The normal shutdown: status 0, the exit line last, the sound thread
// joined, the buzzer silent and the high-score file whole.
void expect_normal_shutdown(const GameResult& result) {
    ASSERT_FALSE(result.timed_out) << "the run hung";
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 0);
    std::size_t at = result.stderr_text.rfind("vmxbrikon: exit after ");
    ASSERT_NE(at, std::string::npos) << result.stderr_text;
    EXPECT_TRUE(ends_with(result.stderr_text, " ms\n"));
    EXPECT_EQ(result.stderr_text.find('\n', at), result.stderr_text.size() - 1) << "the last line";
    EXPECT_FALSE(buzzer_end(result).sounding);
    std::vector<CallLine> calls = parse_calls(result.trace("calls.txt"));
    bool started = false;
    bool joined = false;
    for (const CallLine& call : calls) {
        started = started || (call.call == "thread_start" && call.result == 0);
        joined = joined || (started && call.call == "thread_join");
    }
    EXPECT_EQ(joined, started);
    std::string stored = result.sandbox_file(kHighScorePath);
    long long best = pilot_value(result, "best");
    EXPECT_TRUE(stored == kOldBestText ||
                (best > kOldBest && stored == std::to_string(best) + "\n"))
        << stored;
}

void expect_display_back(const GameResult& result) {
    std::vector<PanLine> pans = result.pans();
    ASSERT_FALSE(pans.empty());
    EXPECT_EQ(pans.back().yoffset, 0u) << "the display is panned back";
    EXPECT_EQ(pans.back().result, 0);
}

TEST(Signals, AtEveryStepOfStartUpTheDefaultActionUntilTheHandlerThenAnOrderlyStop) {
    SKIP_SWEEP_UNDER_THREAD_SANITIZER();
    const Reference& ref = reference();
    ASSERT_EQ(ref.result.status, 0) << ref.result.stderr_text;
    const long thread_start = index_of(ref.calls, "thread_start", "-");
    const long sigterm_handler = index_of(ref.calls, "signal", std::to_string(SIGTERM));
    const long sigint_handler = index_of(ref.calls, "signal", std::to_string(SIGINT));
    ASSERT_GT(thread_start, 0);
    ASSERT_GT(sigterm_handler, 0);
    ASSERT_GT(sigint_handler, sigterm_handler);
    // The sound thread's own first calls (its export of the channel first)
    // may be logged before the start returns on the main thread; they belong
    // to the running game, not to start-up.
    long sound_thread_begins = thread_start;
    int exports = 0;
    for (long i = 0; i < thread_start; ++i) {
        const CallLine& line = ref.calls[static_cast<std::size_t>(i)];
        if (line.call == "open" && line.target == "/sys/class/pwm/pwmchip0/export" &&
            ++exports == 2)
            sound_thread_begins = i;
    }
    int gate_pauses = 0;
    int default_deaths = 0;
    int orderly = 0;
    for (long i = 0; i <= thread_start; ++i) {
        if (i >= sound_thread_begins && i != thread_start)
            continue;
        const CallLine& line = ref.calls[static_cast<std::size_t>(i)];
        if (line.call == "sleep")
            gate_pauses += 1;
        for (int signal_number : {SIGINT, SIGTERM}) {
            const long handler = signal_number == SIGTERM ? sigterm_handler : sigint_handler;
            for (bool after : {false, true}) {
                SCOPED_TRACE(line.call + " " + line.target + (after ? " after" : " before") +
                             ", signal " + std::to_string(signal_number));
                GameResult result =
                    signal_at(ref, static_cast<std::size_t>(i), signal_number, after);
                ASSERT_FALSE(result.timed_out) << "the run hung";
                const bool handled = i > handler || (i == handler && after);
                if (!handled) {
                    EXPECT_EQ(result.signal, signal_number) << "the default action";
                    EXPECT_EQ(result.stderr_text.find("exit after"), std::string::npos);
                    default_deaths += 1;
                } else {
                    expect_normal_shutdown(result);
                    if (line.call == "thread_start" && after) {
                        // With the sound thread running, the signal may be
                        // taken on that thread a little later: then the loop
                        // has begun, and whatever it showed is panned back.
                        if (!result.pans().empty())
                            expect_display_back(result);
                    } else {
                        // Stopped before the first frame: nothing to restore.
                        EXPECT_TRUE(ends_with(result.stderr_text, "vmxbrikon: exit after 0 ms\n"))
                            << result.stderr_text;
                        EXPECT_TRUE(result.pans().empty());
                    }
                    orderly += 1;
                }
                EXPECT_EQ(result.sandbox_file(kHighScorePath), kOldBestText);
            }
        }
    }
    EXPECT_EQ(gate_pauses, 1) << "the gate paused once";
    EXPECT_GT(default_deaths, 40);
    EXPECT_GT(orderly, 20);
}

TEST(Signals, DuringFramesTheGameStopsInOrderAndPansBack) {
    SKIP_SWEEP_UNDER_THREAD_SANITIZER();
    const Reference& ref = reference();
    std::vector<std::size_t> pans;
    for (std::size_t i = 0; i < ref.calls.size(); ++i) {
        if (ref.calls[i].target == "/dev/fb0#0x4606")
            pans.push_back(i);
    }
    ASSERT_GT(pans.size(), 10u);
    // The first frame, one in the middle of the game, and the one before the
    // pan back.
    for (std::size_t pan : {pans[0], pans[pans.size() / 2], pans[pans.size() - 2]}) {
        for (int signal_number : {SIGINT, SIGTERM}) {
            for (bool after : {false, true}) {
                SCOPED_TRACE("pan " + std::to_string(ref.calls[pan].seq) +
                             (after ? " after" : " before") + ", signal " +
                             std::to_string(signal_number));
                GameResult result = signal_at(ref, pan, signal_number, after);
                expect_normal_shutdown(result);
                expect_display_back(result);
            }
        }
    }
}

TEST(Signals, DuringThePlayHoldTheHoldToneStopsAndTheGameEndsInOrder) {
    const Reference& ref = reference();
    const long long hold_ms = pilot_value(ref.result, "hold_ms");
    ASSERT_GT(hold_ms, 0);
    for (int signal_number : {SIGINT, SIGTERM}) {
        for (long long into_hold_ms : {100, 1500, 2900}) {
            SCOPED_TRACE(std::to_string(into_hold_ms) + " ms into the hold, signal " +
                         std::to_string(signal_number));
            ScriptOptions options;
            options.gate_pause = true;
            options.setup = [=] { emu::raise_signal_at(hold_ms + into_hold_ms, signal_number); };
            GameResult result = run_game(scripted_game(options));
            expect_normal_shutdown(result);
            expect_display_back(result);
            EXPECT_EQ(result.sandbox_file(kHighScorePath),
                      std::to_string(pilot_value(result, "best")) + "\n");
        }
    }
}

TEST(Signals, AtEveryStepOfShutdownTheShutdownCarriesOn) {
    SKIP_SWEEP_UNDER_THREAD_SANITIZER();
    const Reference& ref = reference();
    const long join = index_of(ref.calls, "thread_join", "-");
    ASSERT_GT(join, 0);
    // Every call of the main thread from the join on: the join, the buzzer
    // silenced once more, the pan back.
    int steps = 0;
    for (std::size_t i = static_cast<std::size_t>(join); i < ref.calls.size(); ++i) {
        ++steps;
        for (int signal_number : {SIGINT, SIGTERM}) {
            for (bool after : {false, true}) {
                SCOPED_TRACE(ref.calls[i].call + " " + ref.calls[i].target +
                             (after ? " after" : " before") + ", signal " +
                             std::to_string(signal_number));
                GameResult result = signal_at(ref, i, signal_number, after);
                expect_normal_shutdown(result);
                expect_display_back(result);
            }
        }
    }
    EXPECT_GE(steps, 8) << "join, two silencing writes of three calls each, the pan back";
}

// A signal whose handler runs during a sleep does not end the sleep early:
// the rest of it is slept too (a tone plays to its end). Real time here, so
// that the sleep is the system's own.
TEST(Signals, ASleepCutByAHandledSignalIsSleptToItsEnd) {
    int status = run_in_child([] {
        emu::reset();
        emu::use_virtual_time(false);
        static std::atomic<int> handled{0};
        if (os::install_signal(SIGUSR1, [](int) { handled.store(1); }) != 0)
            return 2;
        pthread_t sleeper = pthread_self();
        std::thread sender([sleeper] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pthread_kill(sleeper, SIGUSR1);
        });
        auto begin = std::chrono::steady_clock::now();
        int result = os::sleep_us(120000);
        auto slept = std::chrono::steady_clock::now() - begin;
        sender.join();
        if (handled.load() != 1)
            return 3;
        if (result != 0)
            return 4;
        return slept >= std::chrono::milliseconds(120) ? 0 : 5;
    });
    EXPECT_EQ(status, 0) << "2: no handler, 3: no signal, 4: the sleep failed, 5: cut short";
}

}  // namespace
