// vmxbrikon-sim: the unchanged game on the emulated goggles, shown in a
// desktop window with the keyboard as the buttons and the buzzer as sound,
// or run headless for screenshots, scripts and the autoplay.
#include <SDL.h>
#include <time.h>

#include <cstdio>
#include <memory>

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

int run_with_window(sim::Session& session, const sim::SimOptions& options,
                    sim::ReplayWatch* watch) {
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
        watch->attach();
    }
    return options.headless ? run_headless(session)
                            : run_with_window(session, options, watch.get());
}
