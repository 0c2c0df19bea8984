// The composition of recorded frame sequences, built for the goggles (armhf)
// and run under user-mode QEMU with bench/arm/count_plugin.cpp, which counts
// each frame's instructions and the framebuffer bytes it writes and reads
// (bench/arm-frames runs both). The game runs here over a small stand-in for
// the operating system: a framebuffer in ordinary memory, a clock that moves
// only when told, and no files, sound or buttons. Each sequence is first
// played and recorded (the world, the pause and the time of every frame),
// then the display starts afresh and the recorded frames are composed again
// between the markers, so that only the composition is counted.
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "../busy_world.h"
#include "display/compositor.h"
#include "display/framebuffer.h"
#include "display/screens.h"
#include "game/level.h"
#include "game/rng.h"
#include "platform/os.h"
#include "shell/main_loop.h"
#include "sim/autoplay.h"

namespace {

// Must agree with count_plugin.cpp.
constexpr long kMarkerCall = 999;
enum Marker : long { kSequence = 1, kFrameBegin = 2, kFrameEnd = 3, kPageRange = 4 };

void mark(long what, long a = 0, long b = 0) {
    syscall(kMarkerCall, what, a, b);
}

constexpr std::uint32_t kMemoryBytes = kFbStride * kFbVirtualHeight;
constexpr int kFbDescriptor = 3;

std::int64_t virtual_now_ms = 0;

// The stars of the composed frames draw from their own sequence; the game
// played for the recording draws from the game's own.
Rng replay_random;

struct RecordedFrame {
    World world;
    bool paused;
    int elapsed_ms;
};

constexpr int kMaxFrames = 1000;
RecordedFrame recorded[kMaxFrames];
int recorded_count = 0;
bool recording = false;

void record_frame() {
    if (!recording || recorded_count == kMaxFrames)
        return;
    recorded[recorded_count++] = RecordedFrame{
        game.world, game.paused, static_cast<int>(virtual_now_ms - run_clock.start_ms)};
}

// The automatic player, asked as often as it likes to be.
sim::AutoplayState autoplay;
ButtonCode held = kButtonNone;

ButtonCode button_now() {
    if (virtual_now_ms % sim::kAutoplayStepMs == 0)
        held = sim::autoplay_decide(game.world, game.paused, virtual_now_ms, autoplay);
    return held;
}

// Plays the game from its current state for the given time, the buttons
// chosen by the automatic player, and records every frame after those
// recorded so far.
void play_and_record(int duration_ms) {
    recording = true;
    const std::int64_t end = virtual_now_ms + duration_ms;
    for (; virtual_now_ms < end; ++virtual_now_ms) {
        if (virtual_now_ms - buttons.last_poll_ms >= 40)
            handle_reading(button_now(), virtual_now_ms);
        if (virtual_now_ms - buttons.last_frame_ms >= 33)
            run_frame(virtual_now_ms);
    }
    recording = false;
}

// Composes the recorded frames as the main loop does, each between markers;
// whole: each frame into a page of unknown content.
void replay(int sequence, bool whole = false) {
    mark(kSequence, sequence);
    for (int i = 0; i < recorded_count; ++i) {
        const RecordedFrame& frame = recorded[i];
        const int y = select_back_page();
        if (whole)
            forget_page_contents();
        mark(kFrameBegin);
        compose_frame(frame.world, frame.paused, frame.elapsed_ms, replay_random);
        mark(kFrameEnd);
        present_page(y);
    }
}

void start_display() {
    if (open_framebuffer(false) != FbOpen::Ready) {
        std::fprintf(stderr, "frame_count: no framebuffer\n");
        _exit(1);
    }
    mark(kPageRange, reinterpret_cast<long>(page_info.base), kMemoryBytes);
}

}  // namespace

// ---- The stand-in operating system ---------------------------------------

namespace os {

int open(const char* path, int, unsigned) {
    if (std::strcmp(path, "/dev/fb0") == 0)
        return kFbDescriptor;
    errno = ENOENT;
    return -1;
}
int close(int) {
    return 0;
}
long write(int, const void*, std::size_t size) {
    return static_cast<long>(size);
}

int ioctl(int fd, unsigned long request, void* arg) {
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
        record_frame();
        return 0;
    }
    errno = EINVAL;
    return -1;
}

void* mmap(std::size_t length, int prot, int flags, int, long long) {
    return ::mmap(nullptr, length, prot, (flags & ~MAP_SHARED) | MAP_PRIVATE | MAP_ANONYMOUS, -1,
                  0);
}
int fsync(int) {
    return 0;
}
int rename(const char*, const char*) {
    errno = EROFS;
    return -1;
}
std::FILE* fopen(const char*, const char*) {
    errno = ENOENT;
    return nullptr;
}
int clock_monotonic(struct timespec* now) {
    now->tv_sec = virtual_now_ms / 1000;
    now->tv_nsec = (virtual_now_ms % 1000) * 1000000;
    return 0;
}
int sleep_us(unsigned microseconds) {
    virtual_now_ms += microseconds / 1000;
    return 0;
}
int thread_start(Thread*, ThreadEntry) {
    return EAGAIN;
}
int thread_join(Thread) {
    return 0;
}
int install_signal(int, void (*)(int)) {
    return 0;
}
void write_stderr(const char* text, std::size_t size) {
    ::write(2, text, size);
}

}  // namespace os

// Sequences: 1 the title screen for 10 s, 2 an ordinary game played by the
// automatic player, 3 the busiest play screen played on, 4 the first frame
// of a level composed whole, as into a page of unknown content.
int main() {
    random_seed(game.rng, 1337);
    init_starfield(game.rng);
    random_seed(replay_random, 1337);
    virtual_now_ms = 1000;
    run_clock.start_ms = virtual_now_ms;
    buttons.last_frame_ms = run_clock.start_ms;

    // The title screen: no button for 10 s.
    start_display();
    recorded_count = 0;
    recording = true;
    for (const std::int64_t end = virtual_now_ms + 10000; virtual_now_ms < end; ++virtual_now_ms) {
        if (virtual_now_ms - buttons.last_frame_ms >= 33)
            run_frame(virtual_now_ms);
    }
    recording = false;
    start_display();
    replay(1);

    // An ordinary game from the title screen's first press.
    recorded_count = 0;
    play_and_record(30000);
    start_display();
    replay(2);

    // The busiest screen: half a second paused (its box on top), then
    // played on for three seconds.
    game.world = busy_world();
    game.paused = true;
    recorded_count = 0;
    play_and_record(500);
    game.paused = false;
    play_and_record(3000);
    start_display();
    replay(3);

    // The first frames of the first levels.
    recorded_count = 0;
    for (int level = 1; level <= 6; ++level) {
        World loaded = busy_world();
        loaded.phase = Phase::Serve;
        load_level(loaded, level, rng, 0);
        recorded[recorded_count++] = RecordedFrame{loaded, false, 5000 + 33 * level};
    }
    start_display();
    replay(4, true);
    return 0;
}
