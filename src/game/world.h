#pragma once
// The whole game state in one record. The shell owns the one World of the
// process; the game operations change it, the screens only read it.
#include <cstdint>

#include "game/playfield.h"

enum class Phase : int {
    Title = 0,       // title screen, waiting for a game to start
    Serve = 1,       // the ball rests on the paddle, waiting for launch
    Play = 2,        // ball in play
    LevelClear = 3,  // the last brick is gone; a pause before the next level
    GameOver = 4,    // no lives left
};

struct Ball {
    float x = 0, y = 0;    // centre
    float vx = 0, vy = 0;  // px/s
    bool stuck = false;    // rides on the paddle
};

// A brick's kind is the letter the layouts write it with.
enum class BrickKind : char {
    None = 0,  // an empty cell
    Red = 'r',
    Orange = 'o',
    Yellow = 'y',
    Green = 'g',
    Blue = 'b',
    Violet = 'v',
    Silver = 'S',  // takes two hits
    Gold = 'G',    // never breaks
};

// A capsule's kind is the letter it shows as it falls.
enum class CapsuleKind : char {
    None = 0,
    Expand = 'E',  // a wider paddle
    Slow = 'S',    // slower balls
    Split = 'D',   // three balls from one
    Life = 'P',    // one life more
};

constexpr char letter_of(BrickKind kind) {
    return static_cast<char>(kind);
}
constexpr char letter_of(CapsuleKind kind) {
    return static_cast<char>(kind);
}

struct Brick {
    BrickKind kind = BrickKind::None;
    std::uint8_t hits = 0;                    // hits still needed to destroy it
    CapsuleKind capsule = CapsuleKind::None;  // released on destruction
};

struct Capsule {
    float x = 0, y = 0;  // centre
    CapsuleKind kind = CapsuleKind::None;
};

struct Shot {
    float x = 0, y = 0;  // y is the top end
};

constexpr int kMaxBalls = 6;
constexpr int kMaxCapsules = 8;
constexpr int kMaxShots = 4;

struct World {
    Phase phase = Phase::Title;
    std::int64_t phase_start_ms = 0;  // now_ms at the last phase change of the simulation
    float paddle_x = kPaddleStartX;   // centre; kept across levels and games
    int paddle_width = kPaddleNarrow;
    Ball balls[kMaxBalls] = {};
    int ball_count = 0;
    Brick bricks[kGridRows][kGridColumns] = {};  // [row][column], row 0 on top
    int bricks_left = 0;                         // breakable bricks still standing
    Capsule capsules[kMaxCapsules] = {};
    int capsule_count = 0;
    Shot shots[kMaxShots] = {};
    int shot_count = 0;
    std::int64_t last_shot_ms = 0;
    bool expanded = false;  // the paddle grows towards its wide size
    float expand_time = 0;  // seconds of paddle expansion left
    float slow_time = 0;    // seconds of slow ball left
    float laser_time = 0;   // seconds of laser left
    int score = 0;
    int best = 0;
    int lives = 0;
    int level = 0;
    int levels_cleared = 0;
};

// The one way the phase changes: it records when, so that timed phases
// (the pause after a cleared level) count from their own start.
inline void enter_phase(World& world, Phase phase, std::int64_t now_ms) {
    world.phase = phase;
    world.phase_start_ms = now_ms;
}
