// The buzzer: PWM channel 7 of the first controller, driven through sysfs.
// Sound effects go through the tone queue to the sound thread; the exit-hold
// tone is driven by the main thread directly.
#include "devices/sound.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "devices/sound_queue.h"
#include "platform/diag.h"
#include "platform/os.h"
#include "platform/stop.h"

SoundQueue sound_queue;

namespace {

constexpr char kExportPath[] = "/sys/class/pwm/pwmchip0/export";
constexpr char kAttributePathFormat[] = "/sys/class/pwm/pwmchip0/pwm%d/%s";
constexpr int kBuzzerChannel = 7;
constexpr char kBuzzerChannelText[] = "7";

constexpr std::uint32_t kNsPerSecond = 1000000000;
constexpr unsigned kIdleSleepUs = 8000;
constexpr unsigned kGapAfterToneUs = 12000;

// The exit-hold tone rises from 400 Hz to 1500 Hz over the three seconds
// of the hold; the confirmation is a short 1700 Hz beep.
constexpr std::uint32_t kHoldStartHz = 400;
constexpr std::uint32_t kHoldRiseHz = 1100;
constexpr std::uint32_t kHoldRiseMs = 3000;
constexpr std::uint32_t kConfirmHz = 1700;
constexpr unsigned kConfirmUs = 100000;

// Writes text to one attribute file of the buzzer's PWM channel: its own
// open, write and close. Failures are ignored; the next tone tries again.
void pwm_write(const char* attribute, const char* text) {
    char path[64];
    std::snprintf(path, sizeof path, kAttributePathFormat, kBuzzerChannel, attribute);
    int fd = os::open(path, O_WRONLY);
    if (fd < 0)
        return;
    os::write(fd, text, std::strlen(text));
    os::close(fd);
}

void pwm_write_number(const char* attribute, std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    pwm_write(attribute, text);
}

// The buzzer's steps. Each writes the same files in its own order, which
// the name says: switching off before the duty cycle when a tone is about
// to start (so that the old wave does not sound with a new duty cycle), and
// the duty cycle before switching off when a tone ends (pwm_silence).
void disable_then_zero_duty() {
    pwm_write("enable", "0");
    pwm_write("duty_cycle", "0");
}

// Sets the square wave's period and 50 % duty cycle for freq_hz, then
// switches the buzzer on.
void sound_pitch(std::uint32_t freq_hz) {
    std::uint32_t period = kNsPerSecond / freq_hz;
    pwm_write_number("period", period);
    pwm_write_number("duty_cycle", period / 2);
    pwm_write("enable", "1");
}

// One pitch step of the hold tone. The sound thread shares the channel
// without a lock, so the step assumes nothing about what it left behind: an
// effect that ended has switched the buzzer off, and its duty cycle may
// exceed the new period, which the driver would refuse. So the duty cycle
// goes to 0 first, and the buzzer is switched on at every step.
void set_hold_pitch(HoldTone& hold_tone, std::uint32_t freq_hz) {
    if (freq_hz == 0 || !hold_tone.ready)
        return;
    pwm_write("duty_cycle", "0");
    sound_pitch(freq_hz);
    hold_tone.freq_hz = freq_hz;
}

void silence_hold_tone(HoldTone& hold_tone) {
    pwm_silence();
    hold_tone.freq_hz = 0;
}

// One attempt to export the buzzer's channel: the export file opened, the
// channel's number written, the file closed. written is what the write
// returned, or -1 when the file could not be opened; err is the errno of
// the open or the write (0 when the write set none).
struct ExportAttempt {
    long written = -1;
    int err = 0;
};

ExportAttempt export_buzzer_channel() {
    int fd = os::open(kExportPath, O_WRONLY);
    if (fd < 0)
        return ExportAttempt{-1, errno};
    errno = 0;
    const long written = os::write(fd, kBuzzerChannelText, sizeof kBuzzerChannelText - 1);
    const int err = errno;
    os::close(fd);
    return ExportAttempt{written, err};
}

}  // namespace

void sfx_play(std::uint32_t freq_hz, std::uint32_t duration_ms) {
    // A pitch of 0 has no period; the sound thread would divide by it.
    if (freq_hz == 0)
        return;
    sound_queue_push(sound_queue, Tone{freq_hz, duration_ms});
}

void pwm_silence() {
    pwm_write("duty_cycle", "0");
    pwm_write("enable", "0");
}

int sound_thread() {
    // Normally the exit-hold set-up has exported the channel already, and
    // the export answers EBUSY. A write that wrote nothing fails too.
    const ExportAttempt exported = export_buzzer_channel();
    if (exported.written <= 0) {
        const int err = exported.err != 0 ? exported.err : EIO;
        if (err != EBUSY)
            diag("sfx: pwm export failed (%s)\n", std::strerror(err));
    }
    disable_then_zero_duty();

    for (;;) {
        if (stop_flag.load() != 0) {
            pwm_silence();
            return 0;
        }
        Tone tone;
        if (!sound_queue_front(sound_queue, &tone)) {
            os::sleep_us(kIdleSleepUs);
            continue;
        }
        disable_then_zero_duty();
        sound_pitch(tone.freq_hz);
        os::sleep_us(tone.duration_ms * 1000);
        pwm_silence();
        sound_queue_pop(sound_queue);
        os::sleep_us(kGapAfterToneUs);
    }
}

bool hold_tone_init(HoldTone& hold_tone) {
    // An export the kernel answers EBUSY is already there; a write that
    // wrote nothing is no failure here.
    const ExportAttempt exported = export_buzzer_channel();
    if (exported.written < 0 && exported.err != EBUSY)
        return false;
    disable_then_zero_duty();
    hold_tone.ready = true;
    return true;
}

void hold_tone_begin(HoldTone& hold_tone) {
    set_hold_pitch(hold_tone, kHoldStartHz);
}

void hold_tone_update(HoldTone& hold_tone, int held_ms) {
    if (!hold_tone.ready)
        return;
    // A negative hold reads as a huge one, so it gives the top pitch.
    std::uint32_t t = static_cast<std::uint32_t>(held_ms);
    if (t > kHoldRiseMs)
        t = kHoldRiseMs;
    set_hold_pitch(hold_tone, kHoldStartHz + t * kHoldRiseHz / kHoldRiseMs);
}

void hold_tone_confirm(HoldTone& hold_tone) {
    if (hold_tone.freq_hz != 0)
        silence_hold_tone(hold_tone);
    if (!hold_tone.ready)
        return;
    set_hold_pitch(hold_tone, kConfirmHz);
    os::sleep_us(kConfirmUs);
    silence_hold_tone(hold_tone);
}

void hold_tone_stop(HoldTone& hold_tone) {
    if (hold_tone.freq_hz != 0)
        silence_hold_tone(hold_tone);
}
