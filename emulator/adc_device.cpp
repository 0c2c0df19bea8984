// The emulated ADC register page behind /dev/mem.
#include "emulator/adc_device.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>

#include "emulator/device.h"
#include "emulator/emulator.h"
#include "emulator/replay.h"

namespace emu::adc {
namespace {

// The ladder centres in millivolts, by button code; 1020 counts are 1800 mV.
constexpr std::uint32_t kCentreMv[8] = {800, 1600, 1000, 1200, 1400, 1800, 400, 600};
constexpr std::uint32_t kFullScaleCounts = 1020;
constexpr std::uint32_t kFullScaleMv = 1800;

// A one-shot value: bit 32 set when armed.
constexpr std::uint64_t kArmed = std::uint64_t{1} << 32;

struct State {
    volatile std::uint32_t* page = nullptr;
    std::atomic<bool> present{true};
    std::atomic<std::uint32_t> input{0};
    std::atomic<std::uint64_t> next_sample{0};
    std::atomic<std::uint64_t> control_disturbance{0};
    std::atomic<bool> mapped{false};
    std::atomic<std::uintptr_t> owner{};
    std::atomic<int> latches{0};
};

State& state() {
    static State instance;
    return instance;
}

volatile std::uint32_t* page() {
    State& s = state();
    if (s.page == nullptr) {
        void* memory =
            ::mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED)
            s.page = static_cast<volatile std::uint32_t*>(memory);
    }
    return s.page;
}

volatile std::uint32_t& reg(std::uint32_t offset) {
    return page()[offset / 4];
}

// Runs on the sleeping thread with the clock's lock held: touches nothing
// but this device's own state.
void latch_at_sleep(void* /*context*/, std::int64_t /*wake_ns*/) {
    State& s = state();
    if (!s.mapped.load(std::memory_order_acquire))
        return;
    if (thread_self() != s.owner.load(std::memory_order_relaxed))
        return;
    std::uint64_t next = s.next_sample.exchange(0);
    reg(kSample) =
        replay::sample((next & kArmed) ? static_cast<std::uint32_t>(next) : s.input.load());
    std::uint64_t disturbance = s.control_disturbance.exchange(0);
    if (disturbance & kArmed)
        reg(kControl) = static_cast<std::uint32_t>(disturbance);
    s.latches.fetch_add(1);
}

class AdcDevice final : public Device {
  public:
    bool serves(const char* path) const override { return std::strcmp(path, "/dev/mem") == 0; }

    void reset() override {
        State& s = state();
        s.present = true;
        s.input = 0;
        s.next_sample = 0;
        s.control_disturbance = 0;
        s.mapped = false;
        s.latches = 0;
        volatile std::uint32_t* registers = page();
        for (std::uint32_t i = 0; registers != nullptr && i < kPageSize / 4; ++i)
            registers[i] = 0;
        // The clock forgets its hooks on every reset, before the devices'.
        add_sleep_hook(latch_at_sleep, nullptr);
    }

    // The handle is the access mode, so that mmap can check it.
    int open(const char*, int flags) override {
        if (!state().present) {
            errno = ENOENT;
            return -1;
        }
        return flags & O_ACCMODE;
    }

    void* mmap(int handle, std::size_t length, int prot, int flags, long long offset) override {
        State& s = state();
        if ((prot & PROT_WRITE) && handle != O_RDWR) {
            errno = EACCES;
            return MAP_FAILED;
        }
        if (offset != kPhysicalBase || length == 0 || length > kPageSize || !(flags & MAP_SHARED) ||
            page() == nullptr) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        // What the ADC holds when the game first looks.
        reg(kSample) = replay::sample(s.input.load());
        s.owner.store(thread_self(), std::memory_order_relaxed);
        s.mapped.store(true, std::memory_order_release);
        return const_cast<std::uint32_t*>(page());
    }
};

}  // namespace

std::uint32_t sample_for(ButtonCode code) {
    if (code < 0 || code > 7)
        return 0;
    return (kCentreMv[code] * kFullScaleCounts + kFullScaleMv / 2) / kFullScaleMv;
}

void hold_button(ButtonCode code) {
    state().input = sample_for(code);
}
void set_sample(std::uint32_t counts) {
    state().input = counts;
}
std::uint32_t held_sample() {
    return state().input;
}
void set_next_sample(std::uint32_t counts) {
    state().next_sample = kArmed | counts;
}
void disturb_control(std::uint32_t value) {
    state().control_disturbance = kArmed | value;
}
void set_present(bool present) {
    state().present = present;
}

std::uint32_t read_register(std::uint32_t offset) {
    return page() == nullptr ? 0 : reg(offset & (kPageSize - 4));
}

void set_register(std::uint32_t offset, std::uint32_t value) {
    if (page() != nullptr)
        reg(offset & (kPageSize - 4)) = value;
}

bool mapped() {
    return state().mapped;
}
int latch_count() {
    return state().latches;
}

}  // namespace emu::adc

namespace emu {
Device& adc_device() {
    static adc::AdcDevice device;
    return device;
}
}  // namespace emu
