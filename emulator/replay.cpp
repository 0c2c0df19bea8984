// The process-wide recorder and player, and the hooks the emulated seam and
// devices call (see replay.h). The bytes are replay_format.cpp's, the
// keeping and the handing back replay_recorder.cpp's and replay_player.cpp's;
// here is which of them runs, and the signals kept for the main thread.
#include "emulator/replay.h"

#include <signal.h>

#include <atomic>
#include <optional>

#include "emulator/clock.h"
#include "emulator/replay_player.h"
#include "emulator/replay_recorder.h"

namespace emu::replay {
namespace {

using format::kMaxSignal;

enum class Mode { Off, Recording, Playing };

struct State {
    std::atomic<Mode> mode{Mode::Off};
    Recorder recorder;
    Player player;
    // Signals kept for the main thread's next wake, and the game's handlers.
    std::atomic<std::uint64_t> pending_signals{0};
    std::atomic<Handler> handlers[kMaxSignal + 1] = {};
    bool stop_handed = false;  // the stop past the replay's end
};

// reset() makes a new State in place, so no field can be left behind.
std::optional<State>& holder() {
    static std::optional<State> instance{std::in_place};
    return instance;
}

State& state() {
    return *holder();
}

void keep_signal(int signal_number) {
    if (signal_number > 0 && signal_number <= kMaxSignal)
        state().pending_signals.fetch_or(std::uint64_t{1} << (signal_number - 1));
}

void hand_to_game(State& s, int signal_number) {
    if (signal_number <= 0 || signal_number > kMaxSignal)
        return;
    if (Handler handler = s.handlers[signal_number].load())
        handler(signal_number);
}

// Signals that arrived since the last wake, kept while recording.
void hand_pending_signals(State& s, Mode mode) {
    std::uint64_t pending = s.pending_signals.exchange(0);
    for (int number = 1; pending != 0; ++number, pending >>= 1) {
        if ((pending & 1) == 0)
            continue;
        if (mode == Mode::Recording)
            s.recorder.signal(number);
        hand_to_game(s, number);
    }
}

// The replay's signals due at this wake, and the stop once it ran out.
void hand_replayed_signals(State& s) {
    while (const int number = s.player.due_signal())
        hand_to_game(s, number);
    // Past the replay's end the game stops as at the end of --seconds.
    if (s.player.ran_out() && !s.stop_handed && s.handlers[SIGTERM].load() != nullptr) {
        s.stop_handed = true;
        hand_to_game(s, SIGTERM);
    }
}

}  // namespace

void reset() {
    holder().emplace();
}

void record(const Start& start) {
    reset();
    State& s = state();
    s.recorder.begin(start);
    s.mode.store(Mode::Recording);
}

std::vector<std::uint8_t> recorded() {
    return state().recorder.bytes();
}

bool record_full() {
    return state().recorder.full();
}

void play(const std::uint8_t* bytes, std::size_t size) {
    reset();
    State& s = state();
    if (!s.player.open(bytes, size).empty()) {
        reset();
        return;
    }
    clock::replay_from(s.player.start().origin_us * 1000);
    s.mode.store(Mode::Playing);
}

void pace(bool real_speed) {
    state().player.pace(real_speed);
}

void pace_by(Pacer pacer, void* context) {
    state().player.pace_by(pacer, context);
}

bool ran_out() {
    return state().player.ran_out();
}

bool recording() {
    return state().mode.load() == Mode::Recording;
}

bool playing() {
    return state().mode.load() == Mode::Playing;
}

std::int64_t clock_ns(std::int64_t live_ns) {
    State& s = state();
    switch (s.mode.load()) {
        case Mode::Recording:
            return s.recorder.clock_ns(live_ns);
        case Mode::Playing: {
            const std::int64_t ns = s.player.clock_ns();
            clock::replay_reached(ns);
            return ns;
        }
        case Mode::Off:
            break;
    }
    return live_ns;
}

void sleeping(unsigned microseconds) {
    State& s = state();
    if (s.mode.load() == Mode::Recording)
        s.recorder.sleeping(microseconds);
    else if (s.mode.load() == Mode::Playing)
        s.player.sleeping(microseconds);
}

void woke() {
    State& s = state();
    const Mode mode = s.mode.load();
    if (mode == Mode::Recording)
        s.recorder.woke();
    else if (mode == Mode::Playing)
        s.player.woke();
    hand_pending_signals(s, mode);
    if (mode == Mode::Playing)
        hand_replayed_signals(s);
}

std::uint32_t sample(std::uint32_t live) {
    State& s = state();
    switch (s.mode.load()) {
        case Mode::Recording:
            s.recorder.sample(live);
            return live;
        case Mode::Playing:
            return s.player.sample();
        case Mode::Off:
            break;
    }
    return live;
}

int i2c_transfer(int error, std::uint8_t* read, std::uint32_t length) {
    State& s = state();
    switch (s.mode.load()) {
        case Mode::Recording:
            s.recorder.answer(error, read, length);
            return error;
        case Mode::Playing:
            return s.player.answer(read, length);
        case Mode::Off:
            break;
    }
    return error;
}

Handler signal_handler(int signal_number, Handler game_handler) {
    State& s = state();
    if (s.mode.load() == Mode::Off || signal_number <= 0 || signal_number > kMaxSignal)
        return game_handler;
    s.handlers[signal_number].store(game_handler);
    return keep_signal;
}

}  // namespace emu::replay
