#pragma once
// The emulated buzzer channel: the PWM sysfs tree of the first controller,
// /sys/class/pwm/pwmchip0 with its export and unexport files and, once a
// channel is exported, its pwm<N>/enable, period and duty_cycle attributes.
// Values are checked as the kernel's PWM core checks them, and every write
// is logged with the virtual time at which it happened (and written to
// pwm.txt in the trace folder as "time_ms attribute value error").
#include <cstdint>

namespace emu::pwm {

constexpr int kChannelCount = 8;
constexpr int kBuzzerChannel = 7;

struct Settings {
    bool present = true;    // false: no pwmchip0 at all, every open fails with ENOENT
    int export_errno = 0;   // nonzero: every write to export fails with this errno
    bool exported = false;  // the buzzer's channel is exported already at power-on
};

// Applies new settings: the channel goes back to power-on, the log is cleared.
void configure(const Settings& settings);
const Settings& settings();

// One write to a file of the tree.
struct Write {
    std::int64_t time_ms = 0;
    int channel = -1;         // -1 for export and unexport
    char attribute[12] = {};  // "export", "unexport", "enable", "period", "duty_cycle"
    char value[24] = {};      // the bytes written (cut short if longer)
    int error = 0;            // 0 when accepted, else the errno the write failed with
};
constexpr int kLogCapacity = 65536;
int write_count();  // all writes, also those beyond the log's capacity
Write write_at(int index);

// The buzzer's channel now.
bool exported();
bool enabled();
std::uint32_t period_ns();
std::uint32_t duty_ns();
// The pitch sounding now in Hz: 0 unless enabled with a nonzero duty cycle.
std::uint32_t sounding_hz();
// Attribute and export files open now (each write should be its own open
// and close).
int open_files();

// Called after every accepted write (the simulator turns the channel into
// audio). Runs on the writing game thread.
void set_change_hook(void (*hook)(void* context), void* context);

}  // namespace emu::pwm
