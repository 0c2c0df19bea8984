// The game's side of the web page: the worker that loads this module calls
// these functions. They run the same session as the desktop simulator (the
// unchanged game on the emulated goggles), its threads as fibers taking
// turns on the worker's one thread, on the game's own clock.
//
// That clock is virtual and paced by the display: each time the worker
// wakes for a display frame, every fiber whose time has come runs, up to
// the present, and the game sees exactly the passes it would see in real
// time. Between wake-ups nothing runs. The player's presses reach the game
// at the moments they were made, as a script's do. Once a wake-up's turns
// are over, the newest picture goes on the canvas, the sound is topped up
// once, and now and then the page hears how the game stands.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/host_clock.h"
#include "emulator/pwm_device.h"
#include "sim/frame_store.h"
#include "sim/options.h"
#include "sim/run_files.h"
#include "sim/session.h"
#include "web/contract.h"
#include "web/sound_ring.h"

namespace {

// Where the best score lives while the page plays: the page fills the file
// from the browser's storage before the game starts, and keeps the score of
// each game over of the player's own (the glance) in that storage.
constexpr const char* kStateDir = "/state";
// Every game the page plays is recorded (see sim/README.md, replays): the
// whole run is written here when it ends, and the run up to the end of the
// latest game whenever the worker asks for it.
constexpr const char* kRecordPath = "/run.vmxr";
// After a stall (a hidden tab, a busy machine) the game catches up at most
// this much; beyond it, it goes on from where it stood, a little later.
constexpr std::int64_t kMostBehindNs = 250000000;
// The page hears how the game stands at most this often.
constexpr std::int64_t kGlanceEveryNs = 200000000;
// Presses, releases and drags waiting for their moment in the game.
constexpr int kMaxInputs = 128;
// A step while a replay is paused lets the game go a frame's interval at
// once, then a little more at a time until the next frame is shown.
constexpr std::int64_t kFrameIntervalNs = 33000000;
constexpr std::int64_t kStepMoreNs = 2000000;

// A replay being watched: how far the page lets its game go. Its pace is
// the watcher's: paused, faster or slower, or as fast as the worker can
// run until it reaches a moment the timeline was taken to.
struct Watch {
    bool paused = false;
    double speed = 1.0;
    std::int64_t limit_ns = 0;  // the game's clock goes no further
    std::int64_t host_ns = 0;   // the host's clock at the last display frame
    std::int64_t seek_ns = -1;  // running to this moment; -1: not seeking
    long step_from = -1;        // stepping past this frame; -1: not stepping
    bool changed = true;        // the page has not heard the latest
};

struct Input {
    enum class Kind { Press, Release, Steer, Demo, Away } kind = Kind::Press;
    std::int64_t at_ns = 0;
    int source = 0;
    int key = 0;
    int value = 0;  // the button, the steering column, or demo on/off
};

struct WebRun {
    sim::Session session;
    sim::FrameStore frames{sim::PixelOrder::Rgba};
    std::unique_ptr<web::SoundRing> sound;
    bool muted = false;  // --mute: the buzzer stays silent
    bool started = false;
    bool finished = false;
    int status = -1;
    bool paced = false;    // a real game, or a replay: the display paces the clock
    bool watched = false;  // a replay in a window: the watcher paces it
    Watch watch;
    // The game's clock is the host's, less this.
    std::int64_t offset_ns = 0;
    Input inputs[kMaxInputs];
    int first_input = 0;
    int input_count = 0;
    std::int64_t last_input_ns = 0;
    double glance[web::kGlanceFieldCount] = {};
    std::int64_t glance_at_ns = -kGlanceEveryNs;
    int games_offered = 0;
};

WebRun* run = nullptr;

// The page's sources of presses are the arbiter's first ones.
constexpr int kLastPageSource = static_cast<int>(sim::InputSource::Gamepad);

std::vector<std::string> split_words(const char* text) {
    std::vector<std::string> words;
    std::string word;
    for (const char* p = text; *p; ++p) {
        if (*p == ' ' || *p == '\n' || *p == '\t') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += *p;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

void say(const std::string& text) {
    std::fprintf(stderr, "vmxbrikon-web: %s\n", text.c_str());
}

// The present on the game's clock, as the host's clock has it.
std::int64_t present_ns() {
    return emu::host_now_ns() - run->offset_ns;
}

// What the next display frame lets the game reach. A game far behind (the
// tab was hidden, the machine stalled) catches up only so much, and the
// rest of the gap is let go: the game goes on a little later than planned.
std::int64_t paced_present() {
    const std::int64_t behind = present_ns() - emu::clock_ns();
    if (behind > kMostBehindNs)
        run->offset_ns += behind - kMostBehindNs;
    return present_ns();
}

// The game's clock at elapsed_ms of the replay, less a nanosecond: the
// game stops at the last reading before that moment, so the picture is the
// one shown then, as the simulator's screenshot at that moment has it.
std::int64_t watch_moment_ns(std::int64_t elapsed_ms) {
    const std::int64_t base_ms = emu::clock_ms() - run->session.elapsed_ms();
    return (base_ms + elapsed_ms) * 1000000 - 1;
}

// What the next display frame lets a watched replay reach. present() is
// asked only once the game has gone as far as it was let.
std::int64_t watched_present() {
    Watch& w = run->watch;
    const std::int64_t host_ns = emu::host_now_ns();
    std::int64_t passed_ns = host_ns - w.host_ns;
    if (passed_ns > kMostBehindNs)
        passed_ns = kMostBehindNs;
    w.host_ns = host_ns;
    if (w.seek_ns >= 0) {
        if (w.limit_ns < w.seek_ns) {
            w.limit_ns = w.seek_ns;
        } else {
            w.seek_ns = -1;
            w.changed = true;
        }
    } else if (w.step_from >= 0) {
        if (run->session.frames_shown() > w.step_from) {
            w.step_from = -1;
            w.changed = true;
        } else {
            w.limit_ns += kStepMoreNs;
        }
    } else if (!w.paused) {
        w.limit_ns += static_cast<std::int64_t>(static_cast<double>(passed_ns) * w.speed);
    }
    // The sound follows the game's clock, not the host's.
    run->offset_ns = host_ns - w.limit_ns;
    return w.limit_ns;
}

void tell_page(bool now);

// Where the watch stands, for the page's controls: once a seek or a step
// is over, with the latest glance before it.
void tell_watch() {
    Watch& w = run->watch;
    if (!w.changed)
        return;
    w.changed = false;
    tell_page(true);
    EM_ASM({ Module.vmxWatch($0, $1, $2, $3); }, w.paused ? 1 : 0, w.speed,
           w.seek_ns >= 0 || w.step_from >= 0 ? 1 : 0,
           static_cast<double>(run->session.elapsed_ms()));
}

void apply(const Input& input) {
    sim::Session& session = run->session;
    switch (input.kind) {
        case Input::Kind::Press:
            session.press(static_cast<sim::InputSource>(input.source), input.key,
                          static_cast<ButtonCode>(input.value));
            break;
        case Input::Kind::Release:
            session.release(static_cast<sim::InputSource>(input.source), input.key);
            break;
        case Input::Kind::Steer:
            session.steer_to(input.value < 0 ? sim::Session::kNoSteering : input.value);
            break;
        case Input::Kind::Demo:
            session.set_demo(input.value != 0);
            break;
        case Input::Kind::Away:
            session.pause_if_playing();
            break;
    }
}

// On the clock's thread, when the game's time reaches the oldest waiting
// input: that one and every other one due by now, in the order they came.
void apply_due_inputs(void*) {
    const std::int64_t now_ns = emu::clock_ns();
    while (run->input_count > 0) {
        const Input& input = run->inputs[run->first_input];
        if (input.at_ns > now_ns)
            break;
        apply(input);
        run->first_input = (run->first_input + 1) % kMaxInputs;
        run->input_count -= 1;
    }
}

// An input made at at_ms on the host's clock (performance.now() in the
// worker) reaches the game at that moment of its own time, or at once if
// the game is already past it; never before one that came earlier.
void take_input(Input input, double at_ms) {
    if (run == nullptr || !run->started)
        return;
    std::int64_t at_ns = static_cast<std::int64_t>(at_ms * 1e6) - run->offset_ns;
    if (!run->paced || at_ns < emu::clock_ns())
        at_ns = emu::clock_ns();
    if (at_ns < run->last_input_ns)
        at_ns = run->last_input_ns;
    if (run->input_count == kMaxInputs) {
        apply_due_inputs(nullptr);
        if (run->input_count == kMaxInputs)
            return;  // a flood no player makes
    }
    input.at_ns = at_ns;
    run->inputs[(run->first_input + run->input_count) % kMaxInputs] = input;
    run->input_count += 1;
    run->last_input_ns = at_ns;
    emu::at_time((at_ns + 999999) / 1000000, apply_due_inputs, nullptr);
}

// The buzzer's changes, stamped on the game's clock, which the sound ring
// renders on the same clock.
void note_buzzer(void* ring) {
    sim::PwmState state;
    state.enabled = emu::pwm::enabled();
    state.period_ns = emu::pwm::period_ns();
    state.duty_ns = emu::pwm::duty_ns();
    static_cast<web::SoundRing*>(ring)->wave()->note_change(state, emu::clock_ns());
}

void take_glance(double* out) {
    web::GlanceSample sample;
    sample.glance = run->session.glance();
    sample.frames = run->session.frames_shown();
    sample.elapsed_ms = run->session.elapsed_ms();
    sample.buzzer_changes = run->sound ? static_cast<std::int64_t>(run->sound->wave()->noted()) : 0;
    for (int i = 0; i < web::kGlanceFieldCount; ++i)
        out[i] = web::kGlanceFields[i].value(sample);
}

// The page hears how the game stands when it has changed, at most every
// kGlanceEveryNs, and at once when a game has ended (its replay is ready).
void tell_page(bool now) {
    const std::int64_t host_ns = emu::host_now_ns();
    const int games = run->session.games_kept();
    if (!now && games == run->games_offered && host_ns - run->glance_at_ns < kGlanceEveryNs)
        return;
    run->glance_at_ns = host_ns;
    double glance[web::kGlanceFieldCount];
    take_glance(glance);
    bool changed = false;
    for (int i = 0; i < web::kGlanceFieldCount; ++i)
        changed = changed || glance[i] != run->glance[i];
    if (changed || games != run->games_offered) {
        for (int i = 0; i < web::kGlanceFieldCount; ++i)
            run->glance[i] = glance[i];
        EM_ASM({ Module.vmxGlance($0, $1); }, run->glance, games);
    }
    run->games_offered = games;
}

// Once every fiber sleeps: the newest picture to the canvas, the sound
// ring's one top-up and its new samples to the output, and the glance.
void between_turns() {
    // A seek shows where it has got to in words only: the pictures and the
    // sound of a game going by at full speed are not for watching.
    const bool seeking = run->watched && run->watch.seek_ns >= 0;
    bool fresh = false;
    const std::uint32_t* pixels = seeking ? nullptr : run->frames.take(&fresh);
    if (fresh && pixels != nullptr) {
        int index = 0;
        while (index < 2 && run->frames.buffer(index) != pixels)
            ++index;
        EM_ASM({ Module.vmxFrame($0, $1); }, pixels, &run->frames.changes(index));
    }
    if (run->sound && !seeking) {
        const std::uint32_t before = run->sound->written();
        run->sound->top_up(present_ns());
        const std::uint32_t after = run->sound->written();
        if (after != before)
            EM_ASM({ Module.vmxSound($0, $1, $2, $3); }, run->sound->samples(), before,
                   after - before, web::SoundRing::kCapacity);
    }
    tell_page(false);
    if (run->watched)
        tell_watch();
}

}  // namespace

extern "C" {

// Starts the game. args: the simulator's options, separated by spaces (the
// page's test options; "" for a plain game). best: the line kept from the
// last visit, or "". Answers 0, or 2 when the options are refused (the
// reason on stderr).
EMSCRIPTEN_KEEPALIVE int web_start(const char* args, const char* best) {
    if (run != nullptr)
        return 2;
    std::vector<std::string> words = split_words(args);
    std::vector<const char*> argv = {"vmxbrikon-web"};
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    sim::SimOptions options;
    std::string reason =
        sim::parse_sim_options(static_cast<int>(argv.size()), argv.data(), &options);
    if (!reason.empty()) {
        say(reason);
        return 2;
    }
    // The kept best score belongs to real games; a test in virtual time
    // keeps its own in a folder of its own, and a replay brings its own.
    const bool replaying = !options.replay_path.empty();
    const bool real_game = !options.virtual_time;
    const bool keeps_best = real_game && options.data_dir.empty() && !replaying;
    if (keeps_best)
        options.data_dir = kStateDir;
    if (!replaying && options.record_path.empty())
        options.record_path = kRecordPath;
    // A real game always has the built-in player ready, idle until the
    // page's demo asks for it.
    const bool idle_player = real_game && !options.autoplay;
    if (idle_player)
        options.autoplay = true;
    // A real game runs on virtual time too, paced by the display.
    if (real_game && !replaying)
        options.virtual_time = true;

    run = new WebRun;
    run->muted = options.mute;
    // --headless: a replay run through as fast as the worker can, unseen
    // (the page learns how long it is).
    run->paced = real_game && !options.headless;
    run->watched = replaying && run->paced;
    reason = run->session.prepare(options, !options.headless, keeps_best ? best : "");
    if (!reason.empty()) {
        say(reason);
        return 2;
    }
    if (idle_player)
        run->session.set_demo(false);
    if (!options.headless)
        run->session.show_frames_in(&run->frames);
    run->offset_ns = emu::host_now_ns() - emu::clock_ns();
    run->last_input_ns = emu::clock_ns();
    run->watch.limit_ns = emu::clock_ns();
    run->watch.host_ns = emu::host_now_ns();
    if (run->paced)
        emu::pace_virtual_time(emu::clock_ns());
    if (!run->session.start()) {
        say("cannot start the game's thread");
        return 2;
    }
    run->started = true;
    return 0;
}

// The page's sound output is there (browsers wait for the player's first
// press to start it): the buzzer's changes from now on become samples at
// this rate, kept lead_ms ahead of the output. Answers 0, or 1 when there
// is no sound (muted by the options).
EMSCRIPTEN_KEEPALIVE int web_start_sound(int sample_rate, int lead_ms) {
    if (run == nullptr || run->sound || run->muted || sample_rate <= 0 || lead_ms <= 0)
        return 1;
    run->sound = std::make_unique<web::SoundRing>(sample_rate, std::int64_t{lead_ms} * 1000000);
    emu::pwm::set_change_hook(note_buzzer, run->sound.get());
    return 0;
}

// The output has played this many samples of the ring since it started.
EMSCRIPTEN_KEEPALIVE void web_sound_report(double read) {
    if (run != nullptr && run->sound)
        run->sound->report(static_cast<std::uint32_t>(read), present_ns());
}

// -1 while the game runs, then the game's exit status, once it has ended
// and everything is tidied up.
EMSCRIPTEN_KEEPALIVE int web_poll() {
    if (run == nullptr || !run->started)
        return run == nullptr ? -1 : 2;
    if (!run->finished && run->session.finished()) {
        run->status = run->session.finish();
        run->finished = true;
    }
    return run->finished ? run->status : -1;
}

// Runs the game's fibers until the game has ended. Called once, after
// web_start, as an asynchronous call: it gives the worker's event loop the
// time while the game sleeps. Once it has ended, the canvas gets the last
// picture and the page the last glance.
EMSCRIPTEN_KEEPALIVE void web_run() {
    if (run == nullptr || !run->started)
        return;
    emu::TurnsHost host;
    host.idle = between_turns;
    if (run->paced)
        host.present = run->watched ? watched_present : paced_present;
    emu::run_turns(host);
    web_poll();
    between_turns();
    tell_page(true);
}

// A key, touch button or gamepad button went down or up at at_ms (the
// worker's performance.now()). source: keys, on-screen buttons, the pointer
// on the playfield or gamepad, numbered as sim::InputSource numbers them;
// key: any number naming the button within its source. The session's
// arbiter makes every press one the game sees.
EMSCRIPTEN_KEEPALIVE void web_press(int source, int key, int button, double at_ms) {
    if (source >= 0 && source <= kLastPageSource)
        take_input({Input::Kind::Press, 0, source, key, button}, at_ms);
}

EMSCRIPTEN_KEEPALIVE void web_release(int source, int key, double at_ms) {
    if (source >= 0 && source <= kLastPageSource)
        take_input({Input::Kind::Release, 0, source, key, 0}, at_ms);
}

// A drag on the playfield steers the paddle towards column x of the drawing
// area; -1 when the pointer lets go.
EMSCRIPTEN_KEEPALIVE void web_steer(int x, double at_ms) {
    take_input({Input::Kind::Steer, 0, 0, 0, x}, at_ms);
}

// The built-in player plays, or stands back (a real game only: the page
// always starts one with the player prepared).
EMSCRIPTEN_KEEPALIVE void web_set_demo(int on, double at_ms) {
    take_input({Input::Kind::Demo, 0, 0, 0, on}, at_ms);
}

// The page is no longer seen, or has lost the keyboard: everything is let
// go, and a ball in play stops.
EMSCRIPTEN_KEEPALIVE void web_hidden(double at_ms) {
    take_input({Input::Kind::Away, 0, 0, 0, 0}, at_ms);
}

// Writes the replay of the run up to the end of its latest game to path;
// answers its size, or 0 when there is none.
EMSCRIPTEN_KEEPALIVE int web_write_last_game(const char* path) {
    if (run == nullptr)
        return 0;
    const std::vector<std::uint8_t> bytes = run->session.last_game_replay();
    if (bytes.empty() || !sim::write_file(path, bytes))
        return 0;
    return static_cast<int>(bytes.size());
}

// A watched replay pauses (1) or plays on (0).
EMSCRIPTEN_KEEPALIVE void web_watch_pause(int paused) {
    if (run == nullptr || !run->watched)
        return;
    run->watch.paused = paused != 0;
    run->watch.changed = true;
}

// A watched replay plays at this many times the speed it was played.
EMSCRIPTEN_KEEPALIVE void web_watch_speed(double speed) {
    if (run == nullptr || !run->watched || !(speed > 0))
        return;
    run->watch.speed = speed;
    run->watch.changed = true;
}

// A watched replay runs as fast as it can to elapsed_ms of its game, and
// stays there if paused. Answers 0, or 1 when the game is already past it
// (the page then plays the replay again from its start).
EMSCRIPTEN_KEEPALIVE int web_watch_seek(double elapsed_ms) {
    if (run == nullptr || !run->watched)
        return 1;
    const std::int64_t moment_ns = watch_moment_ns(static_cast<std::int64_t>(elapsed_ms));
    if (moment_ns < emu::clock_ns())
        return 1;
    run->watch.step_from = -1;
    run->watch.seek_ns = moment_ns;
    // A game on its way to a later moment stops at this one instead.
    if (run->watch.limit_ns > moment_ns) {
        run->watch.limit_ns = moment_ns;
        emu::pace_virtual_time(moment_ns);
    }
    run->watch.changed = true;
    return 0;
}

// A paused replay shows its next frame.
EMSCRIPTEN_KEEPALIVE void web_watch_step() {
    Watch* w = run != nullptr && run->watched ? &run->watch : nullptr;
    if (w == nullptr || !w->paused || w->seek_ns >= 0 || w->step_from >= 0)
        return;
    w->step_from = run->session.frames_shown();
    w->limit_ns += kFrameIntervalNs;
    w->changed = true;
}

}  // extern "C"
