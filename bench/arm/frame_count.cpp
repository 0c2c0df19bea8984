// The whole game, from its start-up to its stop, over a stand-in for the
// operating system, so that what a frame costs can be counted from one pan
// to the next: the main loop's passes, the button polls, the game's rules,
// their requests carried out, describing, the damage, composing, presenting,
// and what the sound thread runs meanwhile. Built for the goggles (armhf)
// it runs under user-mode QEMU with bench/arm/count_plugin.cpp, which counts
// instructions and framebuffer bytes (bench/arm-frames runs both); built for
// the development machine it reports, with --floor, the bytes each frame
// writes against the bytes of the page that actually changed.
//
// The stand-in is what a kernel and the goggles' devices would be: a
// framebuffer in ordinary memory, an ADC page whose sample follows the
// automatic player's button, a buzzer that takes every write, a mode chip
// that answers the normal mode, no files, and a clock that moves only when
// every thread sleeps (the two threads take turns, so each frame's counts
// repeat exactly). Its own work is not counted, as a system call's would
// not be. The run goes through four sequences, switched between frames:
// 1 the title screen for 10 s, 2 an ordinary game played by the automatic
// player for 30 s, 3 the busiest play screen (half a second paused, then
// played on for 3 s), 4 the first frame of six levels, each into a page of
// unknown content.
#include <fcntl.h>
#include <linux/fb.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "../busy_world.h"
#include "devices/remote_i2c.h"
#include "display/display.h"
#include "game/level.h"
#include "platform/os.h"
#include "platform/stop.h"
#include "shell/main_loop.h"
#include "shell/startup.h"
#include "sim/autoplay.h"

namespace {

// Must agree with count_plugin.cpp.
constexpr long kMarkerCall = 999;
enum Marker : long { kSequence = 1, kPan = 2, kPageRange = 3, kUncounted = 4, kCounted = 5 };

void mark(long what, long a = 0, long b = 0) {
    syscall(kMarkerCall, what, a, b);
}

constexpr std::uint32_t kMemoryBytes = kFbStride * kFbVirtualHeight;
// The pages drawn into begin at lines 1080 and 2160.
constexpr std::uint32_t kPageLines = kPageYOffsets[0];
constexpr int kFbDescriptor = 3;
constexpr int kMemDescriptor = 4;
constexpr int kI2cDescriptor = 5;
constexpr int kPwmDescriptor = 6;

constexpr std::uint32_t kSampleOffset = 0x810;
// The ladder's voltage for each button code, as the ADC reads it
// (1020 counts are 1800 mV).
constexpr std::uint32_t kButtonMv[8] = {800, 1600, 1000, 1200, 1400, 1800, 400, 600};

constexpr std::int64_t kTitleEndMs = 10000;
constexpr std::int64_t kOrdinaryEndMs = 40000;
constexpr std::int64_t kBusyPausedEndMs = 40500;
constexpr std::int64_t kBusyEndMs = 43500;
constexpr int kLevelLoads = 6;

enum Thread : int { kMain = 0, kSound = 1 };
constexpr std::int64_t kNever = INT64_MAX;

// Everything the stand-in keeps. The threads take turns: the one whose
// turn it is runs, the other waits for it.
struct StandIn {
    std::int64_t now_us = 1000000;
    struct timespec now = {1, 0};  // now_us as the clock reads it
    std::int64_t wake_us[2] = {0, kNever};
    bool sound_running = false;
    std::atomic<int> turn{kMain};
    pthread_t sound_handle{};
    os::ThreadEntry sound_entry = nullptr;

    std::uint8_t* framebuffer = nullptr;
    alignas(4096) std::uint8_t adc[4096] = {};

    int sequence = 0;
    int loads_left = kLevelLoads;
    bool autoplay_on = false;
    sim::AutoplayState autoplay;
    std::int64_t autoplay_step = -1;

    bool floor = false;
    long frame_index = 0;

    // The game's records, which the stand-in looks at and changes between
    // frames.
    RunState* run = nullptr;
    Display* display = nullptr;
};
StandIn standin;

// The drawing areas of the two pages as they were after the last pan, for
// the floor.
std::uint32_t shown_before[2][kAreaWidth * kAreaHeight];

thread_local int this_thread = kMain;
thread_local int uncounted_depth = 0;

// The stand-in's own work, which a kernel would do, is left out of the counts.
struct Uncounted {
    Uncounted() {
        if (uncounted_depth++ == 0)
            mark(kUncounted);
    }
    ~Uncounted() {
        if (--uncounted_depth == 0)
            mark(kCounted);
    }
    Uncounted(const Uncounted&) = delete;
    Uncounted& operator=(const Uncounted&) = delete;
};

std::int64_t elapsed_ms() {
    return standin.now_us / 1000 - standin.run->limit.start_ms;
}

// The ADC's sample follows the button the automatic player holds.
void follow_player() {
    const std::int64_t now_ms = standin.now_us / 1000;
    if (!standin.autoplay_on || now_ms / sim::kAutoplayStepMs == standin.autoplay_step)
        return;
    standin.autoplay_step = now_ms / sim::kAutoplayStepMs;
    const Game& game = standin.run->game;
    const ButtonCode held = sim::autoplay_decide(game.world, game.paused, now_ms, standin.autoplay);
    const std::uint32_t counts = held >= 0 && held < 8 ? kButtonMv[held] * 1020 / 1800 + 1 : 0;
    std::memcpy(standin.adc + kSampleOffset, &counts, sizeof counts);
}

// The thread me waits until it is its turn.
void wait_for_turn(int me) {
    while (standin.turn.load() != me)
        standin.turn.wait(1 - me);
}

void give_turn(int to) {
    standin.turn.store(to);
    standin.turn.notify_one();
}

// The thread me sleeps until its wake time; meanwhile the other thread runs
// whenever it is due first. The main thread goes first when both are due.
void sleep_until_woken(int me) {
    for (;;) {
        const bool sound_first =
            standin.sound_running && standin.wake_us[kSound] < standin.wake_us[kMain];
        const int next = sound_first ? kSound : kMain;
        if (standin.wake_us[next] > standin.now_us) {
            standin.now_us = standin.wake_us[next];
            standin.now.tv_sec = static_cast<time_t>(standin.now_us / 1000000);
            standin.now.tv_nsec = static_cast<long>(standin.now_us % 1000000) * 1000;
        }
        if (next == me)
            return;
        give_turn(next);
        wait_for_turn(me);
        if (standin.wake_us[me] <= standin.now_us)
            return;
    }
}

void* run_sound_thread(void*) {
    this_thread = kSound;
    uncounted_depth = 1;
    wait_for_turn(kSound);
    mark(kCounted);
    uncounted_depth = 0;
    standin.sound_entry();
    mark(kUncounted);
    standin.sound_running = false;
    give_turn(kMain);
    return nullptr;
}

// The bytes of the page just composed that differ from what it held.
long changed_bytes(int page_index) {
    const auto* page = reinterpret_cast<const std::uint32_t*>(
        standin.framebuffer + kFbStride * kPageLines * (page_index + 1));
    std::uint32_t* before = shown_before[page_index];
    long changed = 0;
    for (int y = 0; y < kAreaHeight; ++y) {
        for (int x = 0; x < kAreaWidth; ++x) {
            const std::uint32_t now = page[y * kPagePixelsPerRow + x];
            changed += now != before[y * kAreaWidth + x];
            before[y * kAreaWidth + x] = now;
        }
    }
    return changed * 4;
}

void start_sequence(int sequence) {
    standin.sequence = sequence;
    mark(kSequence, sequence);
}

// Between two frames: the floor of the frame just composed, then the
// switch to the next sequence when its time has come.
void after_pan(std::uint32_t yoffset) {
    if (standin.floor && yoffset != 0) {
        const long floor = changed_bytes(static_cast<int>(yoffset / kPageLines) - 1);
        const ComposeReport& report = standin.display->compositor.last_report();
        const long long pixels = report.whole ? kAreaWidth * kAreaHeight : report.pixels;
        if (standin.sequence != 0)
            std::printf("page %d %ld %lld %ld\n", standin.sequence, standin.frame_index, pixels * 4,
                        floor);
    }
    ++standin.frame_index;
    Game& game = standin.run->game;
    const std::int64_t at = elapsed_ms();
    switch (standin.sequence) {
        case 0:
            start_sequence(1);
            standin.frame_index = 0;
            break;
        case 1:
            if (at >= kTitleEndMs) {
                start_sequence(2);
                standin.frame_index = 0;
                standin.autoplay_on = true;
            }
            break;
        case 2:
            if (at >= kOrdinaryEndMs) {
                start_sequence(3);
                standin.frame_index = 0;
                game.world = busy_world(rng);
                game.paused = true;
            }
            break;
        case 3:
            if (at >= kBusyPausedEndMs && at < kBusyEndMs)
                game.paused = false;
            if (at >= kBusyEndMs) {
                start_sequence(4);
                standin.frame_index = 0;
                standin.autoplay_on = false;
            }
            break;
        default:
            break;
    }
    if (standin.sequence == 4) {
        if (standin.loads_left == 0) {
            // The pan back at the exit is no frame.
            start_sequence(0);
            stop_flag.store(1);
            return;
        }
        World loaded = busy_world(rng);
        loaded.phase = Phase::Serve;
        load_level(loaded, 1 + kLevelLoads - standin.loads_left, rng, 0);
        --standin.loads_left;
        game.world = loaded;
        game.paused = false;
        standin.display->compositor.forget_pages();
    }
}

}  // namespace

// ---- The stand-in operating system ---------------------------------------

int os::open(const char* path, int, unsigned) {
    Uncounted uncounted;
    if (std::strcmp(path, "/dev/fb0") == 0)
        return kFbDescriptor;
    if (std::strcmp(path, "/dev/mem") == 0)
        return kMemDescriptor;
    if (std::strcmp(path, "/dev/remote_i2c") == 0)
        return kI2cDescriptor;
    if (std::strncmp(path, "/sys/class/pwm/", 15) == 0)
        return kPwmDescriptor;
    errno = ENOENT;
    return -1;
}

int os::close(int) {
    Uncounted uncounted;
    return 0;
}

long os::read(int, void*, std::size_t) {
    Uncounted uncounted;
    errno = EBADF;
    return -1;
}

long os::write(int fd, const void*, std::size_t size) {
    Uncounted uncounted;
    if (fd != kPwmDescriptor) {
        errno = EBADF;
        return -1;
    }
    return static_cast<long>(size);
}

int os::ftruncate(int, long long) {
    Uncounted uncounted;
    errno = EBADF;
    return -1;
}

int os::fstat(int, struct stat*) {
    Uncounted uncounted;
    errno = EBADF;
    return -1;
}

int os::lstat(const char*, struct stat*) {
    Uncounted uncounted;
    errno = ENOENT;
    return -1;
}

long os::readlink(const char*, char*, std::size_t) {
    Uncounted uncounted;
    errno = ENOENT;
    return -1;
}

int os::ioctl(int fd, unsigned long request, void* arg) {
    Uncounted uncounted;
    if (fd == kI2cDescriptor && request == kRemoteI2cRequest) {
        // Every register of the mode chip reads 1: the normal mode.
        const auto* header = static_cast<const RemoteI2cHeader*>(arg);
        if (header->operation == kRemoteI2cWriteRead)
            remote_i2c_payload(*header)[kRemoteI2cWriteReadHead + 1] = 1;
        return 0;
    }
    if (fd != kFbDescriptor) {
        errno = ENOTTY;
        return -1;
    }
    if (request == FBIOGET_VSCREENINFO) {
        auto* var = static_cast<fb_var_screeninfo*>(arg);
        *var = fb_var_screeninfo{};
        var->xres = var->xres_virtual = 1920;
        var->yres = 1080;
        var->yres_virtual = kFbVirtualHeight;
        var->bits_per_pixel = 32;
        return 0;
    }
    if (request == FBIOGET_FSCREENINFO) {
        auto* fix = static_cast<fb_fix_screeninfo*>(arg);
        *fix = fb_fix_screeninfo{};
        fix->line_length = kFbStride;
        fix->smem_len = kMemoryBytes;
        return 0;
    }
    if (request == FBIOPUT_VSCREENINFO)
        return 0;
    if (request == FBIOPAN_DISPLAY) {
        mark(kPan);
        after_pan(static_cast<const fb_var_screeninfo*>(arg)->yoffset);
        return 0;
    }
    errno = EINVAL;
    return -1;
}

void* os::mmap(std::size_t length, int prot, int, int fd, long long) {
    Uncounted uncounted;
    if (fd == kMemDescriptor)
        return standin.adc;
    if (fd != kFbDescriptor) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    void* memory = ::mmap(nullptr, length, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory != MAP_FAILED) {
        standin.framebuffer = static_cast<std::uint8_t*>(memory);
        mark(kPageRange, reinterpret_cast<long>(memory), static_cast<long>(length));
    }
    return memory;
}

int os::fsync(int) {
    Uncounted uncounted;
    return 0;
}

int os::clock_monotonic(struct timespec* now) {
    // A clock read costs the goggles a few instructions outside the kernel;
    // this one is counted.
    *now = standin.now;
    return 0;
}

int os::sleep_us(unsigned microseconds) {
    Uncounted uncounted;
    const int me = this_thread;
    standin.wake_us[me] = standin.now_us + microseconds;
    sleep_until_woken(me);
    standin.wake_us[me] = kNever;
    if (me == kMain)
        follow_player();
    return 0;
}

int os::thread_start(Thread* thread, ThreadEntry entry) {
    Uncounted uncounted;
    standin.sound_entry = entry;
    standin.sound_running = true;
    standin.wake_us[kSound] = standin.now_us;
    const int result = pthread_create(&standin.sound_handle, nullptr, run_sound_thread, nullptr);
    if (result != 0)
        standin.sound_running = false;
    thread->handle = 1;
    return result;
}

int os::thread_join(Thread) {
    Uncounted uncounted;
    // The main thread waits; the sound thread runs on until it sees the
    // stop request and returns.
    standin.wake_us[kMain] = kNever;
    while (standin.sound_running) {
        give_turn(kSound);
        wait_for_turn(kMain);
    }
    standin.wake_us[kMain] = standin.now_us;
    return pthread_join(standin.sound_handle, nullptr);
}

int os::install_signal(int, void (*)(int)) {
    return 0;
}

void os::write_stderr(const char* text, std::size_t size) {
    Uncounted uncounted;
    ::write(2, text, size);
}

int main(int argc, char** argv) {
    mark(kCounted);
    standin.floor = argc == 2 && std::strcmp(argv[1], "--floor") == 0;
    if (argc > 1 && !standin.floor) {
        std::fprintf(stderr, "usage: frame_count [--floor]\n");
        return 2;
    }
    const char* const game_argv[] = {"vmxbrikon", nullptr};
    RunState run;
    Display display;
    standin.run = &run;
    standin.display = &display;
    return vmx_main(1, game_argv, run, display);
}
