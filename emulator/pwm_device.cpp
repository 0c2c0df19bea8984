// The emulated PWM sysfs tree under /sys/class/pwm/pwmchip0.
#include "emulator/pwm_device.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "emulator/device.h"
#include "emulator/emulator.h"
#include "emulator/trace.h"

namespace emu::pwm {
namespace {

constexpr char kChipDir[] = "/sys/class/pwm/pwmchip0/";
constexpr int kMaxOpen = 32;

enum class Kind { Export, Unexport, Enable, Period, DutyCycle };

constexpr const char* kKindNames[] = {"export", "unexport", "enable", "period", "duty_cycle"};

struct Channel {
    bool exported = false;
    bool enabled = false;
    std::uint32_t period_ns = 0;
    std::uint32_t duty_ns = 0;
};

struct OpenAttribute {
    bool in_use = false;
    Kind kind = Kind::Export;
    int channel = -1;
};

struct State {
    // Made at the first call, not stored in the program: the write log's
    // initial values would otherwise fill megabytes of the program's data
    // (the web page downloads every byte of it).
    State() {}

    std::mutex lock;
    Settings settings;
    Channel channels[kChannelCount];
    OpenAttribute open[kMaxOpen];
    Write log[kLogCapacity];
    int write_count = 0;
    int trace_fd = -2;  // -2: not opened yet
    void (*change_hook)(void*) = nullptr;
    void* change_context = nullptr;
};

State& state() {
    static State instance;
    return instance;
}

// Unsigned decimal text with an optional newline, as the kernel takes it.
bool parse_value(const char* data, std::size_t size, std::uint32_t* value) {
    if (size > 0 && data[size - 1] == '\n')
        size -= 1;
    if (size == 0 || size > 10)
        return false;
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < '0' || data[i] > '9')
            return false;
        number = number * 10 + static_cast<std::uint64_t>(data[i] - '0');
    }
    if (number > 0xffffffffu)
        return false;
    *value = static_cast<std::uint32_t>(number);
    return true;
}

// Carries out one write on the channel model; the errno it fails with, or 0.
int apply(State& s, const OpenAttribute& file, const char* data, std::size_t size) {
    std::uint32_t value = 0;
    if (!parse_value(data, size, &value))
        return EINVAL;
    switch (file.kind) {
        case Kind::Export:
            if (s.settings.export_errno != 0)
                return s.settings.export_errno;
            if (value >= kChannelCount)
                return EINVAL;
            if (s.channels[value].exported)
                return EBUSY;
            s.channels[value] = Channel{};
            s.channels[value].exported = true;
            return 0;
        case Kind::Unexport:
            if (value >= kChannelCount || !s.channels[value].exported)
                return EINVAL;
            s.channels[value] = Channel{};
            return 0;
        default:
            break;
    }
    Channel& channel = s.channels[file.channel];
    // The directory went away under an open attribute.
    if (!channel.exported)
        return ENODEV;
    switch (file.kind) {
        case Kind::Enable:
            if (value > 1)
                return EINVAL;
            channel.enabled = value == 1;
            return 0;
        case Kind::Period:
            if (value < channel.duty_ns)
                return EINVAL;
            channel.period_ns = value;
            return 0;
        case Kind::DutyCycle:
            if (value > channel.period_ns)
                return EINVAL;
            channel.duty_ns = value;
            return 0;
        default:
            return EINVAL;
    }
}

void record(State& s, std::int64_t time_ms, const OpenAttribute& file, const char* data,
            std::size_t size, int error) {
    Write entry;
    entry.time_ms = time_ms;
    entry.channel = file.channel;
    std::snprintf(entry.attribute, sizeof entry.attribute, "%s",
                  kKindNames[static_cast<int>(file.kind)]);
    std::size_t kept = size < sizeof entry.value - 1 ? size : sizeof entry.value - 1;
    std::memcpy(entry.value, data, kept);
    if (s.write_count < kLogCapacity)
        s.log[s.write_count] = entry;
    s.write_count += 1;

    if (s.trace_fd == -2)
        s.trace_fd = trace_file("pwm.txt");
    if (s.trace_fd >= 0) {
        char line[96];
        int length =
            std::snprintf(line, sizeof line, "%lld %s %s %d\n", static_cast<long long>(time_ms),
                          entry.attribute, entry.value[0] ? entry.value : "-", error);
        trace_write(s.trace_fd, line, static_cast<std::size_t>(length));
    }
}

// Which file of the tree a path names; false when there is no such file.
bool classify(const State& s, const char* path, OpenAttribute* file) {
    std::size_t dir_length = sizeof kChipDir - 1;
    if (std::strncmp(path, kChipDir, dir_length) != 0)
        return false;
    const char* rest = path + dir_length;
    if (std::strcmp(rest, "export") == 0) {
        *file = {true, Kind::Export, -1};
        return true;
    }
    if (std::strcmp(rest, "unexport") == 0) {
        *file = {true, Kind::Unexport, -1};
        return true;
    }
    int channel = -1;
    int consumed = 0;
    if (std::sscanf(rest, "pwm%d/%n", &channel, &consumed) != 1 || consumed == 0)
        return false;
    if (channel < 0 || channel >= kChannelCount || !s.channels[channel].exported)
        return false;
    const char* name = rest + consumed;
    for (Kind kind : {Kind::Enable, Kind::Period, Kind::DutyCycle}) {
        if (std::strcmp(name, kKindNames[static_cast<int>(kind)]) == 0) {
            *file = {true, kind, channel};
            return true;
        }
    }
    return false;
}

class PwmDevice final : public Device {
  public:
    bool serves(const char* path) const override {
        return std::strncmp(path, "/sys/class/pwm/", 15) == 0;
    }

    void reset() override {
        State& s = state();
        {
            std::lock_guard<std::mutex> hold(s.lock);
            if (s.trace_fd >= 0)
                ::close(s.trace_fd);
            s.trace_fd = -2;
            s.change_hook = nullptr;
            s.change_context = nullptr;
            for (OpenAttribute& file : s.open)
                file = OpenAttribute{};
        }
        configure(Settings{});
    }

    int open(const char* path, int) override {
        State& s = state();
        std::lock_guard<std::mutex> hold(s.lock);
        OpenAttribute file;
        if (!s.settings.present || !classify(s, path, &file)) {
            errno = ENOENT;
            return -1;
        }
        for (int handle = 0; handle < kMaxOpen; ++handle) {
            if (!s.open[handle].in_use) {
                s.open[handle] = file;
                return handle;
            }
        }
        errno = EMFILE;
        return -1;
    }

    int close(int handle) override {
        State& s = state();
        std::lock_guard<std::mutex> hold(s.lock);
        if (handle >= 0 && handle < kMaxOpen)
            s.open[handle] = OpenAttribute{};
        return 0;
    }

    long write(int handle, const void* data, std::size_t size) override {
        State& s = state();
        std::int64_t time_ms = clock_ms();
        void (*hook)(void*) = nullptr;
        void* context = nullptr;
        int error;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            if (handle < 0 || handle >= kMaxOpen || !s.open[handle].in_use) {
                errno = EBADF;
                return -1;
            }
            const char* text = static_cast<const char*>(data);
            error = apply(s, s.open[handle], text, size);
            record(s, time_ms, s.open[handle], text, size, error);
            if (error == 0) {
                hook = s.change_hook;
                context = s.change_context;
            }
        }
        if (hook != nullptr)
            hook(context);
        if (error != 0) {
            errno = error;
            return -1;
        }
        return static_cast<long>(size);
    }
};

Channel buzzer() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.channels[kBuzzerChannel];
}

}  // namespace

void configure(const Settings& settings) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.settings = settings;
    for (Channel& channel : s.channels)
        channel = Channel{};
    s.channels[kBuzzerChannel].exported = settings.exported;
    s.write_count = 0;
}

const Settings& settings() {
    return state().settings;
}

int write_count() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.write_count;
}

Write write_at(int index) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    if (index < 0 || index >= s.write_count || index >= kLogCapacity)
        return Write{};
    return s.log[index];
}

bool exported() {
    return buzzer().exported;
}
bool enabled() {
    return buzzer().enabled;
}
std::uint32_t period_ns() {
    return buzzer().period_ns;
}
std::uint32_t duty_ns() {
    return buzzer().duty_ns;
}

std::uint32_t sounding_hz() {
    Channel channel = buzzer();
    if (!channel.enabled || channel.duty_ns == 0 || channel.period_ns == 0)
        return 0;
    return 1000000000u / channel.period_ns;
}

int open_files() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    int count = 0;
    for (const OpenAttribute& file : s.open)
        count += file.in_use ? 1 : 0;
    return count;
}

void set_change_hook(void (*hook)(void* context), void* context) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.change_hook = hook;
    s.change_context = context;
}

}  // namespace emu::pwm

namespace emu {
Device& pwm_device() {
    static pwm::PwmDevice device;
    return device;
}
}  // namespace emu
