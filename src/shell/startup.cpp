#include "shell/startup.h"

#include <csignal>

#include "devices/keys.h"
#include "devices/mode_gate.h"
#include "devices/sound.h"
#include "game/playfield.h"
#include "game/rng.h"
#include "platform/clock.h"
#include "platform/diag.h"
#include "platform/os.h"
#include "platform/stop.h"
#include "shell/cli.h"
#include "shell/high_score.h"
#include "shell/main_loop.h"

namespace {
constexpr std::uint32_t kRandomSeed = 1337;

void request_stop(int /*signal_number*/) {
    stop_flag.store(1);
}
}  // namespace

int vmx_main(int argc, const char* const* argv, RunState& run, Display& display) {
    Options options;
    if (parse_command_line(argc, argv, &options) != 0) {
        diag("%s", kUsageLine);
        return 2;
    }
    run.limit.run_seconds = options.run_seconds;

    // The game suits only the goggles' normal video mode; nothing may touch
    // the display before the gate has agreed.
    if (!mode_gate(kGoggleModeNormal))
        return 2;

    hold_tone_init(run.hold_tone);

    switch (open_display(display, options.probe_only)) {
        case FbOpen::Failed:
            return 1;
        case FbOpen::ProbeDone:
            return 0;
        case FbOpen::Ready:
            break;
    }

    os::install_signal(SIGTERM, request_stop);
    os::install_signal(SIGINT, request_stop);

    if (!keys_open(run.adc))
        diag("keys: ADC open fail (exit gesture dead)\n");

    game_init(run.game, kRandomSeed, load_high_score());

    os::Thread sound;
    if (os::thread_start(&sound, sound_thread) != 0) {
        diag("pthread_create failed\n");
        close_framebuffer(display.framebuffer);
        return 1;
    }

    run.limit.start_ms = now_ms();
    if (stop_flag.load() == 0)
        main_loop(run, display);

    stop_flag.store(1);
    os::thread_join(sound);
    pwm_silence();
    restore_display(display.framebuffer);
    diag("vmxbrikon: exit after %ld ms\n", static_cast<long>(now_ms() - run.limit.start_ms));
    return 0;
}
