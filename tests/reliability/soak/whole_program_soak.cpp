#include "soak/whole_program_soak.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "emulator/pwm_device.h"
#include "shell/high_score.h"
#include "shell/main_loop.h"
#include "sim/autoplay.h"
#include "support/game_world.h"

namespace {

constexpr std::int64_t kPressHalfMs = 120;
constexpr std::int64_t kMinuteMs = 60 * 1000;
constexpr int kSavedBest = 3000;
constexpr int kLevelsPerGame = 2;
constexpr std::int64_t kStuckRallyMs = 30 * 1000;

struct Watch {
    std::int64_t end_ms = 0;
    std::int64_t next_sample_ms = 0;
    std::int64_t sample_every_ms = 0;
    long long frames = 0;
    long long games = 0;
    long long levels_cleared = 0;
    long long capsules_caught = 0;
    long long most_balls = 0;
    long long breaks = 0;
    char first_break[160] = {};
    long long rss_warm_kib = 0;
    long long rss_last_kib = 0;
    long long rss_most_kib = 0;
    // The frame before.
    Phase phase = Phase::Title;
    int score = 0;
    int best = 0;
    int level = 0;
    int capsule_count = 0;
    std::uint32_t yoffset = 0;
    // The automatic player can fall into a rally that repeats itself without
    // touching a brick; then it lets that ball go.
    std::int64_t last_score_change_ms = 0;
    long long rallies_let_go = 0;
    bool letting_go = false;
};
Watch watch;

// The resident memory of the process, less what the emulated goggles' own
// pan and PWM logs have filled so far: those are fixed arrays whose pages
// the kernel brings in as the logs grow (and, under AddressSanitizer, an
// eighth more for their shadow), until they are full.
long long resident_kib() {
    // Real calls, not the game's: the soak measures the process itself. No
    // stdio, which would allocate (and, under AddressSanitizer, keep the
    // freed buffers in quarantine: memory the game never asked for).
    int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[128] = {};
    ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    long long size = 0;
    long long resident = 0;
    if (got <= 0 || std::sscanf(text, "%lld %lld", &size, &resident) != 2)
        return -1;
    long long logged =
        static_cast<long long>(std::min(emu::fb::pan_count(), emu::fb::kPanLogCapacity)) *
            static_cast<long long>(sizeof(emu::fb::Pan)) +
        static_cast<long long>(std::min(emu::pwm::write_count(), emu::pwm::kLogCapacity)) *
            static_cast<long long>(sizeof(emu::pwm::Write));
#if defined(__SANITIZE_ADDRESS__)
    logged += logged / 8;
#endif
    return resident * (sysconf(_SC_PAGESIZE) / 1024) - logged / 1024;
}

void broke(const char* what) {
    watch.breaks += 1;
    if (watch.first_break[0] == 0) {
        std::snprintf(watch.first_break, sizeof watch.first_break, "%s at %lld ms, frame %lld",
                      what, static_cast<long long>(emu::clock_ms()), watch.frames);
    }
}
#define SOAK_CHECK(condition)  \
    do {                       \
        if (!(condition))      \
            broke(#condition); \
    } while (0)

int stored_best() {
    char path[512];
    emu::sandbox_path(kHighScorePath, path, sizeof path);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[32] = {};
    ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    int value = -1;
    if (got <= 0 || std::sscanf(text, "%d", &value) != 1)
        return -1;
    return value;
}

// The game's record, which the soak watches after every frame.
const RunState* soak_run = nullptr;

void check_frame() {
    const World& w = soak_run->game.world;
    SOAK_CHECK(w.ball_count >= 0 && w.ball_count <= kMaxBalls);
    SOAK_CHECK(w.capsule_count >= 0 && w.capsule_count <= kMaxCapsules);
    SOAK_CHECK(w.shot_count >= 0 && w.shot_count <= kMaxShots);
    for (int i = 0; i < w.ball_count; ++i) {
        const Ball& ball = w.balls[i];
        if (ball.stuck && ball.x == 0 && ball.y == 0)
            continue;  // placed on the paddle at the next step
        SOAK_CHECK(ball.x >= 151.0f && ball.x <= 1129.0f);
        SOAK_CHECK(ball.y >= 81.0f && ball.y < 760.0f);
    }
    SOAK_CHECK(w.bricks_left == count_breakable(w));
    SOAK_CHECK(w.lives >= 0 && w.lives <= 6);
    SOAK_CHECK(w.paddle_width >= 110 && w.paddle_width <= 170);
    const float half = static_cast<float>(w.paddle_width / 2);
    SOAK_CHECK(w.paddle_x >= 146.0f + half - 3.0f && w.paddle_x <= 1134.0f - half + 3.0f);
    if (w.phase == Phase::Serve || w.phase == Phase::Play)
        SOAK_CHECK(w.ball_count >= 1);
    if (w.phase == Phase::GameOver)
        SOAK_CHECK(w.lives == 0);
    SOAK_CHECK(w.best >= watch.best);

    const bool new_game = watch.phase == Phase::Title && w.phase == Phase::Serve;
    if (new_game) {
        watch.games += 1;
        SOAK_CHECK(w.score == 0 && w.lives == 3 && w.level == 1);
    } else if (w.phase != Phase::Title) {
        SOAK_CHECK(w.score >= watch.score);
    }
    if (w.phase == Phase::Serve && watch.phase == Phase::LevelClear) {
        watch.levels_cleared += 1;
        SOAK_CHECK(w.level == watch.level + 1);
    }
    if (w.phase == Phase::GameOver && watch.phase != Phase::GameOver && w.score >= watch.best)
        SOAK_CHECK(stored_best() == w.best);
    if (w.capsule_count < watch.capsule_count && w.score >= watch.score + 500)
        watch.capsules_caught += 1;
    watch.most_balls = std::max<long long>(watch.most_balls, w.ball_count);

    // Every frame is shown on the page the one before was not.
    const std::uint32_t yoffset = emu::fb::yoffset();
    SOAK_CHECK(yoffset == 1080u || yoffset == 2160u);
    SOAK_CHECK(yoffset != watch.yoffset);

    watch.phase = w.phase;
    watch.score = w.score;
    watch.best = w.best;
    watch.level = w.level;
    watch.capsule_count = w.capsule_count;
    watch.yoffset = yoffset;
}

ButtonCode let_go(const World& w) {
    const Ball* lowest = nullptr;
    for (int i = 0; i < w.ball_count; ++i) {
        if (w.balls[i].stuck == 0 && (lowest == nullptr || w.balls[i].y > lowest->y))
            lowest = &w.balls[i];
    }
    if (lowest == nullptr)
        return kButtonNone;
    return lowest->x > 640.0f ? kButtonLeft : kButtonRight;
}

ButtonCode choose_button(std::int64_t now) {
    const Game& game = soak_run->game;
    const bool press = (now / kPressHalfMs) % 2 != 0;
    switch (game.world.phase) {
        case Phase::Title:
        case Phase::Serve:
        case Phase::GameOver:
            return press ? kButtonMiddle : kButtonNone;
        case Phase::Play:
            // Two levels a game, then the balls are let go: games end, the
            // best is written, and a new game starts from the title. A rally
            // that goes on without scoring (a ball straight up and down
            // beside a wall, say) is let go as well. Letting go is running to
            // the half of the field away from the lowest ball.
            if (game.world.levels_cleared >= kLevelsPerGame || watch.letting_go)
                return let_go(game.world);
            return sim::steer_button(game.world);
        case Phase::LevelClear:
            return kButtonNone;
    }
    return kButtonNone;
}

void sample_memory() {
    const long long rss = resident_kib();
    if (watch.rss_warm_kib == 0)
        watch.rss_warm_kib = rss;
    watch.rss_last_kib = rss;
    watch.rss_most_kib = std::max(watch.rss_most_kib, rss);
}

// After every frame the game shows, on its own thread.
void after_frame() {
    const Game& game = soak_run->game;
    const std::int64_t now = emu::clock_ms();
    watch.frames += 1;
    const int score_before = watch.score;
    check_frame();
    if (game.world.score != score_before || game.world.phase != Phase::Play) {
        watch.last_score_change_ms = now;
        watch.letting_go = false;
    } else if (!watch.letting_go && now - watch.last_score_change_ms > kStuckRallyMs) {
        watch.letting_go = true;
        watch.rallies_let_go += 1;
    }
    emu::adc::hold_button(choose_button(now));
    if (now >= watch.next_sample_ms) {
        sample_memory();
        watch.next_sample_ms += watch.sample_every_ms;
    }
}

void write_report(void*) {
    sample_memory();
    char text[1024];
    int length = std::snprintf(
        text, sizeof text,
        "complete 1\nframes %lld\ngames %lld\nlevels_cleared %lld\ncapsules_caught %lld\n"
        "most_balls %lld\nbest %d\nbreaks %lld\nrss_warm_kib %lld\nrss_last_kib %lld\n"
        "rss_most_kib %lld\nrallies_let_go %lld\n",
        watch.frames, watch.games, watch.levels_cleared, watch.capsules_caught, watch.most_balls,
        soak_run->game.world.best, watch.breaks, watch.rss_warm_kib, watch.rss_last_kib,
        watch.rss_most_kib, watch.rallies_let_go);
    int fd = emu::trace_file("soak.txt");
    if (fd >= 0) {
        ssize_t written = write(fd, text, static_cast<std::size_t>(length));
        written = write(fd, "first_break ", 12);
        written = write(fd, watch.first_break, std::strlen(watch.first_break));
        written = write(fd, "\n", 1);
        (void)written;
        close(fd);
    }
    kill(getpid(), SIGTERM);
}

}  // namespace

SoakReport run_soak(long long game_seconds, int timeout_seconds) {
    GameRun run;
    run.timeout_seconds = timeout_seconds;
    run.setup = [game_seconds] {
        char path[512];
        emu::sandbox_path(kHighScoreDir, path, sizeof path);
        emu::make_dirs(path);
        emu::sandbox_path(kHighScorePath, path, sizeof path);
        std::ofstream(path) << kSavedBest << "\n";
        watch = Watch{};
        watch.best = kSavedBest;
        watch.end_ms = emu::kVirtualStartMs + game_seconds * 1000;
        // The first sample once everything is set up and the first games
        // have run: a minute in, or a third of a shorter soak; then as often
        // again, and the last at the end.
        watch.sample_every_ms = std::min<std::int64_t>(kMinuteMs, game_seconds * 1000 / 3);
        watch.next_sample_ms = emu::kVirtualStartMs + watch.sample_every_ms;
        emu::at_time(watch.end_ms, write_report, nullptr);
    };
    run.watch = [](RunState& game_run) { soak_run = &game_run; };
    run.after_frame = after_frame;
    SoakReport report;
    report.result = run_game(run);
    report.seconds = game_seconds;
    std::istringstream lines(report.result.trace("soak.txt"));
    std::string key;
    while (lines >> key) {
        if (key == "first_break") {
            std::getline(lines, report.first_break);
            continue;
        }
        long long value = 0;
        lines >> value;
        std::map<std::string, long long*> fields = {
            {"frames", &report.frames},
            {"games", &report.games},
            {"levels_cleared", &report.levels_cleared},
            {"capsules_caught", &report.capsules_caught},
            {"most_balls", &report.most_balls},
            {"best", &report.best},
            {"breaks", &report.breaks},
            {"rss_warm_kib", &report.rss_warm_kib},
            {"rss_last_kib", &report.rss_last_kib},
            {"rss_most_kib", &report.rss_most_kib},
            {"rallies_let_go", &report.rallies_let_go},
        };
        if (key == "complete")
            report.complete = value == 1;
        if (fields.count(key) != 0)
            *fields[key] = value;
    }
    return report;
}

std::string describe(const SoakReport& report) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "soak: %lld s of game time, %lld frames, %lld games, %lld levels cleared, "
                  "%lld capsules caught, most balls %lld, best %lld, %lld rallies let go, "
                  "%lld invariant breaks; "
                  "resident memory %lld KiB once warm, %lld KiB at the end, "
                  "%lld KiB at most",
                  report.seconds, report.frames, report.games, report.levels_cleared,
                  report.capsules_caught, report.most_balls, report.best, report.rallies_let_go,
                  report.breaks, report.rss_warm_kib, report.rss_last_kib, report.rss_most_kib);
    return text;
}
