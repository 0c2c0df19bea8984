// vmxbrikon-sim: the unchanged game on the emulated goggles, shown in a
// desktop window with the keyboard as the buttons and the buzzer as sound,
// or run headless for screenshots, scripts and the autoplay.
#include <SDL.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/frame_store.h"
#include "sim/options.h"
#include "sim/replay_watch.h"
#include "sim/session.h"
#include "sim/speaker.h"
#include "sim/window.h"

namespace {

constexpr long kHeadlessLookNs = 2000000;

void say(const std::string& text) {
    std::fprintf(stderr, "vmxbrikon-sim: %s\n", text.c_str());
}

// The same command line, the replay run ahead to from_ms in a new process
// image (the game runs once per process), at the watch's pace.
void replay_again(int argc, char** argv, std::int64_t from_ms, const sim::ReplayWatch& watch) {
    std::vector<std::string> words(argv, argv + argc);
    words.push_back("--from");
    words.push_back(std::to_string(from_ms));
    char speed[32];
    std::snprintf(speed, sizeof speed, "%g", watch.speed());
    words.push_back("--speed");
    words.push_back(speed);
    if (watch.paused())
        words.push_back("--paused");
    std::vector<char*> args;
    for (std::string& word : words)
        args.push_back(word.data());
    args.push_back(nullptr);
    execv("/proc/self/exe", args.data());
    say(std::string("cannot play the replay again: ") + std::strerror(errno));
}

// When a replay's Left asks to play it again from its start up to a moment,
// the new process image replaces this one right there: the game's thread is
// still running and still draws into the frame store and plays through the
// speaker, so neither may be destroyed before it.
int run_with_window(sim::Session& session, const sim::SimOptions& options, sim::ReplayWatch* watch,
                    int argc, char** argv) {
    // The game's own handlers take SIGTERM and SIGINT; SDL leaves them be.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(0) != 0) {
        say(std::string("SDL: ") + SDL_GetError());
        return 1;
    }
    int status = 1;
    {
        sim::Window window;
        std::string reason = window.open();
        if (!reason.empty()) {
            say("no window: " + reason + " (--headless runs without one)");
            session.finish();
            SDL_Quit();
            return 1;
        }
        sim::Speaker speaker;
        if (!options.mute) {
            reason = speaker.open();
            if (reason.empty()) {
                session.sound_through(speaker.wave());
            } else {
                say("no sound: " + reason);
            }
        }
        auto frames = std::make_unique<sim::FrameStore>();
        session.show_frames_in(frames.get());
        if (session.start()) {
            speaker.play();
            window.run(session, *frames, watch);
            if (watch != nullptr && window.restart_from_ms() >= 0)
                replay_again(argc, argv, window.restart_from_ms(), *watch);
        } else {
            say("cannot start the game's thread");
        }
        status = session.finish();
    }
    SDL_Quit();
    return status;
}

int run_headless(sim::Session& session) {
    std::unique_ptr<sim::FrameStore> frames;
    if (session.screenshots_from_front_end()) {
        frames = std::make_unique<sim::FrameStore>();
        session.show_frames_in(frames.get());
    }
    if (!session.start()) {
        say("cannot start the game's thread");
        session.finish();
        return 1;
    }
    if (frames) {
        const struct timespec pause = {0, kHeadlessLookNs};
        while (!session.finished()) {
            session.take_due_screenshots(frames->take());
            nanosleep(&pause, nullptr);
        }
    }
    return session.finish();
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimOptions options;
    std::string reason = sim::parse_sim_options(argc, argv, &options);
    if (!reason.empty()) {
        say(reason);
        std::fputs(sim::kSimUsage, stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(sim::kSimUsage, stdout);
        return 0;
    }
    sim::Session session;
    reason = session.prepare(options, !options.headless);
    if (!reason.empty()) {
        say(reason);
        return 2;
    }
    // A replay in the window is paced by its watcher's keys; headless, it
    // runs as fast as it can unless given a speed.
    std::unique_ptr<sim::ReplayWatch> watch;
    if (!options.replay_path.empty() && (!options.headless || options.replay_speed > 0)) {
        watch = std::make_unique<sim::ReplayWatch>(options.replay_speed > 0 ? options.replay_speed
                                                                            : 1.0);
        watch->start_at(options.replay_from_ms, options.replay_paused);
        watch->attach();
    }
    if (options.headless)
        return run_headless(session);
    return run_with_window(session, options, watch.get(), argc, argv);
}
