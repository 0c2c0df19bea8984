// No heap allocation once the game runs: this executable replaces the
// global allocation functions with counting ones and plays a whole game on
// the emulated goggles (title, a cleared level with pause, lasers and
// capsules, every life lost, the best written, the title again and the exit
// hold), counting every allocation from the start of the main loop to the
// return of the program. The game runs in a child process, which reports
// the count through a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "shell/high_score.h"
#include "shell/main_loop.h"
#include "shell/startup.h"
#include "support/pilot.h"
#include "support/run_game.h"

// ---- The counting allocator ---------------------------------------------
// Every allocation function forwards to the C library's own allocator; while
// counting is on, each call is counted and the first few sizes are kept.

extern "C" {
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_calloc(std::size_t count, std::size_t size) noexcept;
void* __libc_realloc(void* block, std::size_t size) noexcept;
void* __libc_memalign(std::size_t alignment, std::size_t size) noexcept;
void __libc_free(void* block) noexcept;
}

namespace {

constexpr int kSizesKept = 8;

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<std::size_t> sizes_seen[kSizesKept];

void count_allocation(std::size_t size) {
    if (!counting.load(std::memory_order_relaxed))
        return;
    const long index = allocations.fetch_add(1);
    if (index < kSizesKept)
        sizes_seen[index].store(size);
}

void start_counting() {
    allocations.store(0);
    counting.store(true);
}

long stop_counting() {
    counting.store(false);
    return allocations.load();
}

void* aligned_block(std::size_t alignment, std::size_t size) {
    count_allocation(size);
    return __libc_memalign(alignment, size);
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) noexcept {
    count_allocation(size);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    count_allocation(count * size);
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    count_allocation(size);
    return __libc_realloc(block, size);
}
void free(void* block) noexcept {
    __libc_free(block);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    return aligned_block(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    return aligned_block(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    void* block = aligned_block(alignment, size);
    if (block == nullptr)
        return ENOMEM;
    *out = block;
    return 0;
}
}

// operator new and delete on top of the counted functions above.
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* block = aligned_block(static_cast<std::size_t>(alignment), size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}

namespace {

// ---- The scripted game ----------------------------------------------------

constexpr std::int64_t kTickMs = 10;
constexpr std::int64_t kExitHoldMs = 3500;

enum class Stage : int {
    WaitStart,  // start-up still running
    Playing,    // the whole game, played by the shared pilot, with one pause
    HoldPlay,   // hold PLAY until the game ends itself
    Done,
};

struct Report {
    long allocations = -1;
    std::size_t sizes[kSizesKept] = {};
    int stage = 0;
    int best = 0;
    int paused_once = 0;
    int levels_cleared = 0;
    long long overflowed_frames = -1;
};

// What the test adds to the pilot: the wait for the main loop, one pause in
// the first level, the exit hold at the end. Made before the game starts;
// it allocates nothing itself.
struct Script {
    explicit Script(const RunState& run) : run(run), pilot(run) {}
    const RunState& run;
    GamePilot pilot;
    Stage stage = Stage::WaitStart;
    std::int64_t hold_start_ms = 0;
    bool paused_once = false;
    int levels_cleared = 0;
};
std::unique_ptr<Script> script;

// A pause and resume a few seconds into the first level's play.
ButtonCode pause_once(ButtonCode steering, std::int64_t now) {
    const Game& game = script->run.game;
    ButtonCode hold = steering;
    if (!script->paused_once && now - script->pilot.stage_start_ms() > 4000) {
        hold = pressing(now, kButtonBack);
        script->paused_once = game.paused;
    }
    if (game.paused && script->paused_once)
        hold = pressing(now, kButtonBack);
    return hold;
}

// Runs every 10 ms of virtual time, between the game's passes.
void tick(void*) {
    const std::int64_t now = emu::clock_ms();
    ButtonCode hold = kButtonNone;
    switch (script->stage) {
        case Stage::WaitStart:
            if (script->run.limit.start_ms != 0) {
                start_counting();
                script->stage = Stage::Playing;
            }
            break;
        case Stage::Playing:
            hold = script->pilot.step(now);
            if (script->pilot.stage() == PilotStage::Finished) {
                script->stage = Stage::HoldPlay;
                script->hold_start_ms = now;
            }
            break;
        case Stage::HoldPlay:
            hold = kButtonPlay;
            if (now - script->hold_start_ms > kExitHoldMs)
                script->stage = Stage::Done;  // the game should have ended by now
            break;
        case Stage::Done:
            break;
    }
    emu::adc::hold_button(hold);
    // Every millisecond until the main loop runs, so that counting starts
    // in its first sleep.
    emu::at_time(now + (script->stage == Stage::WaitStart ? 1 : kTickMs), tick, nullptr);
}

void write_report(int fd, const Report& report) {
    const char* bytes = reinterpret_cast<const char*>(&report);
    std::size_t left = sizeof report;
    while (left > 0) {
        const ssize_t written = write(fd, bytes, left);
        if (written <= 0)
            return;
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
}

bool read_report(int fd, Report* report) {
    char* bytes = reinterpret_cast<char*>(report);
    std::size_t got = 0;
    while (got < sizeof *report) {
        const ssize_t n = read(fd, bytes + got, sizeof *report - got);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::string sizes_text(const Report& report) {
    std::string text;
    for (long i = 0; i < std::min<long>(report.allocations, kSizesKept); ++i)
        text += " " + std::to_string(report.sizes[i]);
    return text;
}

// Where a block goes, so that the compiler cannot leave out the allocation.
void* volatile sink = nullptr;

TEST(Allocations, TheCounterSeesEveryWayOfAllocating) {
    struct Case {
        const char* what;
        void (*allocate)();
    };
    const Case cases[] = {
        {"new",
         [] {
             int* block = new int(1);
             sink = block;
             delete block;
         }},
        {"new[]",
         [] {
             char* block = new char[40];
             sink = block;
             delete[] block;
         }},
        {"aligned new",
         [] {
             struct alignas(64) Line {
                 char bytes[64];
             };
             Line* block = new Line;
             sink = block;
             delete block;
         }},
        {"malloc",
         [] {
             sink = std::malloc(24);
             std::free(sink);
         }},
        {"calloc",
         [] {
             sink = std::calloc(3, 8);
             std::free(sink);
         }},
        {"realloc",
         [] {
             sink = std::realloc(nullptr, 24);
             std::free(sink);
         }},
        {"aligned_alloc",
         [] {
             sink = std::aligned_alloc(64, 64);
             std::free(sink);
         }},
        {"std::string",
         [] {
             std::string text(100, 'x');
             sink = text.data();
         }},
        {"fopen inside the C library",
         [] {
             std::FILE* file = std::fopen("/proc/self/stat", "r");
             sink = file;
             if (file != nullptr)
                 std::fclose(file);
         }},
    };
    for (const Case& c : cases) {
        start_counting();
        c.allocate();
        EXPECT_GE(stop_counting(), 1) << c.what;
    }
    start_counting();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d %s", 42, "fixed");
    sink = buffer;
    EXPECT_EQ(stop_counting(), 0) << "formatting into a fixed buffer";
}

TEST(Allocations, NoneInAWholeGameAfterStartUp) {
    const std::string dir = make_temp_dir();
    emu::make_dirs((dir + "/sandbox").c_str());
    emu::make_dirs((dir + "/trace").c_str());
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);

    const int status = run_in_child(
        [&] {
            close(channel[0]);
            emu::reset();
            emu::set_sandbox((dir + "/sandbox").c_str());
            emu::set_trace_dir((dir + "/trace").c_str());
            emu::use_virtual_time(true);
            char folder[512];
            emu::sandbox_path(kHighScoreDir, folder, sizeof folder);
            emu::make_dirs(folder);
            auto run = std::make_unique<RunState>();
            auto display = std::make_unique<Display>();
            script = std::make_unique<Script>(*run);
            script->pilot.in_play = pause_once;
            script->pilot.entered = [](PilotStage, PilotStage to, std::int64_t) {
                if (to == PilotStage::WaitNextLevel)
                    script->levels_cleared += 1;
            };
            emu::at_time(emu::kVirtualStartMs + 1, tick, nullptr);

            const char* argv[] = {"vmxbrikon", "--seconds", "900", nullptr};
            const int result = vmx_main(3, argv, *run, *display);

            Report report;
            report.allocations = stop_counting();
            for (int i = 0; i < kSizesKept; ++i)
                report.sizes[i] = sizes_seen[i].load();
            report.stage = static_cast<int>(script->stage);
            report.best = run->game.world.best;
            report.paused_once = script->paused_once ? 1 : 0;
            report.levels_cleared = script->levels_cleared;
            report.overflowed_frames = display->compositor.overflowed_frames();
            write_report(channel[1], report);
            return result;
        },
        280);
    close(channel[1]);
    Report report;
    const bool reported = read_report(channel[0], &report);
    close(channel[0]);

    ASSERT_EQ(status, 0);
    ASSERT_TRUE(reported);
    // The game was played to its end: the pilot reached the exit hold and
    // the game stopped on it (not on the time limit), with a best on file.
    EXPECT_EQ(report.stage, static_cast<int>(Stage::HoldPlay));
    EXPECT_EQ(report.paused_once, 1);
    EXPECT_EQ(report.levels_cleared, 1);
    EXPECT_EQ(report.overflowed_frames, 0) << "frames with more items than a list holds";
    EXPECT_GT(report.best, 0);
    EXPECT_EQ(read_file(dir + "/sandbox" + kHighScorePath), std::to_string(report.best) + "\n");
    EXPECT_EQ(report.allocations, 0) << "sizes of the first ones:" << sizes_text(report);
}

}  // namespace
