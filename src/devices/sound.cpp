// STAND-IN until the buzzer lands: silence, and a sound thread that only
// waits for the stop request.
#include "devices/sound.h"

#include "platform/os.h"
#include "shell/stop.h"

void sfx_play(std::uint32_t /*freq_hz*/, std::uint32_t /*duration_ms*/) {}

int sound_thread() {
    while (stop_flag.load() == 0) os::sleep_us(8000);
    return 0;
}

void pwm_write(const char* /*attribute*/, const char* /*text*/) {}
void pwm_silence() {}
int hold_tone_init() { return -1; }
void hold_tone_begin() {}
void hold_tone_update(int /*held_ms*/) {}
void hold_tone_confirm() {}
void hold_tone_stop() {}
