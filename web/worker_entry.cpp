// The game's side of the web page: the worker that loads this module calls
// these functions. They run the same session as the desktop simulator (the
// unchanged game on the emulated goggles, its own thread and the sound
// thread), hand each shown picture to the page through a FrameStore in the
// shared memory, and take the page's keys, touches and gamepad as buttons.
#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/frame_store.h"
#include "sim/options.h"
#include "sim/run_files.h"
#include "sim/session.h"
#include "web/contract.h"
#include "web/sound_ring.h"
#if VMX_FIBERS
#include "emulator/emulator.h"
#endif

namespace {

// Where the best score lives while the page plays: the page fills the file
// from the browser's storage before the game starts, and keeps the score of
// each game over of the player's own (the glance) in that storage.
constexpr const char* kStateDir = "/state";
// Every game the page plays is recorded (see sim/README.md, replays): the
// whole run is written here when it ends, and the run up to the end of the
// latest game whenever the worker asks for it.
constexpr const char* kRecordPath = "/run.vmxr";

struct WebRun {
    sim::Session session;
    sim::FrameStore frames{sim::PixelOrder::Rgba};
    std::unique_ptr<web::SoundRing> sound;
    bool muted = false;  // --mute: the buzzer stays silent
    bool started = false;
    bool finished = false;
    int status = -1;
};

WebRun* run = nullptr;

// The page's sources of presses are the arbiter's first ones.
constexpr int kLastPageSource = static_cast<int>(sim::InputSource::Gamepad);

// The page sleeps on the frame handover's word until a picture arrives.
void wake_page(const std::atomic<std::uint32_t>* word) {
    emscripten_futex_wake(const_cast<std::atomic<std::uint32_t>*>(word), INT_MAX);
}

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
    const bool keeps_best = !options.virtual_time && options.data_dir.empty() && !replaying;
    if (keeps_best)
        options.data_dir = kStateDir;
    if (!replaying && options.record_path.empty())
        options.record_path = kRecordPath;
    // A real game always has the built-in player ready, idle until the
    // page's demo asks for it.
    const bool idle_player = !options.virtual_time && !options.autoplay;
    if (idle_player)
        options.autoplay = true;

    run = new WebRun;
    run->muted = options.mute;
    reason = run->session.prepare(options, true, keeps_best ? best : "");
    if (!reason.empty()) {
        say(reason);
        return 2;
    }
    if (idle_player)
        run->session.set_demo(false);
    run->frames.wake_viewer_with(wake_page);
    run->session.show_frames_in(&run->frames);
    if (!run->session.start()) {
        say("cannot start the game's thread");
        return 2;
    }
    run->started = true;
    return 0;
}

// The page's audio has started (browsers wait for the player's first
// press): the buzzer's changes from now on become samples at this rate.
// Answers 0, or 1 when there is no sound (muted by the options, or no
// thread for it). Without threads, the worker tops the ring up between the
// fibers' turns.
EMSCRIPTEN_KEEPALIVE int web_start_sound(int sample_rate) {
    if (run == nullptr || run->sound || run->muted || sample_rate <= 0)
        return 1;
    auto sound = std::make_unique<web::SoundRing>(sample_rate);
#if !VMX_FIBERS
    if (!sound->start()) {
        say("no sound: cannot start the sound thread");
        return 1;
    }
#endif
    run->session.sound_through(sound->wave());
    run->sound = std::move(sound);
    return 0;
}

// Called every few tens of milliseconds: -1 while the game runs, then the
// game's exit status, once it has ended and everything is tidied up.
EMSCRIPTEN_KEEPALIVE int web_poll() {
    if (run == nullptr || !run->started)
        return run == nullptr ? -1 : 2;
    if (!run->finished && run->session.finished()) {
        run->status = run->session.finish();
#if !VMX_FIBERS
        if (run->sound)
            run->sound->stop();
#endif
        run->finished = true;
    }
    return run->finished ? run->status : -1;
}

// A key, touch button or gamepad button went down or up. source: keys,
// on-screen buttons, the pointer on the playfield or gamepad, numbered as
// sim::InputSource numbers them; key: any
// number naming the button within its source. The session's arbiter makes
// every press one the game sees.
EMSCRIPTEN_KEEPALIVE void web_press(int source, int key, int button) {
    if (run == nullptr || source < 0 || source > kLastPageSource)
        return;
    run->session.press(static_cast<sim::InputSource>(source), key, static_cast<ButtonCode>(button));
}

EMSCRIPTEN_KEEPALIVE void web_release(int source, int key) {
    if (run == nullptr || source < 0 || source > kLastPageSource)
        return;
    run->session.release(static_cast<sim::InputSource>(source), key);
}

// A drag on the playfield steers the paddle towards column x of the drawing
// area; -1 when the pointer lets go.
EMSCRIPTEN_KEEPALIVE void web_steer(int x) {
    if (run != nullptr)
        run->session.steer_to(x < 0 ? sim::Session::kNoSteering : x);
}

// The built-in player plays, or stands back (real time only: the page
// always starts a real game with the player prepared).
EMSCRIPTEN_KEEPALIVE void web_set_demo(int on) {
    if (run != nullptr)
        run->session.set_demo(on != 0);
}

// The page is no longer seen, or has lost the keyboard: everything is let
// go, and a ball in play stops.
EMSCRIPTEN_KEEPALIVE void web_hidden() {
    if (run != nullptr)
        run->session.pause_if_playing();
}

// The game as its latest frame had it: out gets one double for each of
// the glance's fields (web/contract.h), in their order.
EMSCRIPTEN_KEEPALIVE void web_glance(double* out) {
    if (run == nullptr)
        return;
    web::GlanceSample sample;
    sample.glance = run->session.glance();
    sample.frames = run->session.frames_shown();
    sample.elapsed_ms = run->session.elapsed_ms();
    sample.buzzer_changes = run->sound ? static_cast<std::int64_t>(run->sound->wave()->noted()) : 0;
    for (int i = 0; i < web::kGlanceFieldCount; ++i)
        out[i] = web::kGlanceFields[i].value(sample);
}

// Games that have ended so far in this run, each with a replay kept.
EMSCRIPTEN_KEEPALIVE int web_games_ended() {
    return run == nullptr ? 0 : run->session.games_kept();
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

// Addresses in the shared memory for the page and its audio worklet.
EMSCRIPTEN_KEEPALIVE const void* web_frame_word() {
    return run ? run->frames.state_word() : nullptr;
}
EMSCRIPTEN_KEEPALIVE const void* web_frame_buffer(int index) {
    return run ? run->frames.buffer(index) : nullptr;
}
// Where the picture in buffer index differs from the one the page took
// before it: a count and that many rectangles (left, top, right, bottom).
EMSCRIPTEN_KEEPALIVE const void* web_frame_changes(int index) {
    return run ? &run->frames.changes(index) : nullptr;
}
EMSCRIPTEN_KEEPALIVE int web_frame_changes_capacity() {
    return sim::FrameChanges::kCapacity;
}
EMSCRIPTEN_KEEPALIVE const void* web_sound_samples() {
    return run && run->sound ? run->sound->samples() : nullptr;
}
EMSCRIPTEN_KEEPALIVE const void* web_sound_written() {
    return run && run->sound ? run->sound->written() : nullptr;
}
EMSCRIPTEN_KEEPALIVE int web_sound_capacity() {
    return static_cast<int>(web::SoundRing::kCapacity);
}
EMSCRIPTEN_KEEPALIVE const void* web_sound_read() {
    return run && run->sound ? run->sound->read() : nullptr;
}
#if VMX_FIBERS
namespace {
// Between the fibers' turns, while the worker's event loop has the time:
// a new picture goes to the page, as a buffer of its own, and the sound
// ring is topped up, its new samples sent on to the worklet. With sound,
// the event loop gives the time back in time for the next top-up.
std::int64_t between_turns() {
    bool fresh = false;
    const std::uint32_t* pixels = run->frames.take(&fresh);
    if (fresh && pixels != nullptr)
        EM_ASM({ Module.vmxFrame($0); }, pixels);
    if (!run->sound)
        return -1;
    const std::uint32_t before = run->sound->written()->load(std::memory_order_relaxed);
    run->sound->top_up(web::SoundRing::monotonic_ns());
    if (run->sound->written()->load(std::memory_order_relaxed) != before)
        EM_ASM({ Module.vmxSound(); });
    return web::SoundRing::kPumpNs;
}
}  // namespace

// Runs the game's fibers until the game has ended. Called once, after
// web_start, as an asynchronous call: it gives the worker's event loop the
// time while the game sleeps.
EMSCRIPTEN_KEEPALIVE void web_run() {
    if (run != nullptr && run->started)
        emu::run_turns(between_turns);
}
#endif

}  // extern "C"
