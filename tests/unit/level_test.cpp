#include "game/level.h"

#include <gtest/gtest.h>

#include <cstring>

#include "game/layouts.h"
#include "game/motion.h"
#include "game/rng.h"
#include "support/game_world.h"
#include "support/tones.h"

namespace {

// The random sequence this file's games draw from.
Rng rng;

class Level : public testing::Test {
  protected:
    void SetUp() override {
        outbox = Outbox{};
        random_seed(rng, 1337);
        take_tones();
    }
};

int count_kind(const World& world, char kind) {
    int count = 0;
    for (const auto& row : world.bricks) {
        for (const Brick& brick : row)
            count += letter_of(brick.kind) == kind ? 1 : 0;
    }
    return count;
}

struct LayoutCase {
    int level;
    int breakable;
    int gold;
    int silver;
    const char* row0;
};

TEST_F(Level, EachLevelGetsItsLayoutAndTheCycleRepeats) {
    const LayoutCase cases[] = {
        {1, 60, 0, 0, "rrrrrrrrrr"}, {2, 30, 0, 15, "S.S.S.S.S."}, {3, 24, 12, 6, "G.rrrrrr.G"},
        {4, 20, 0, 0, "b..b..o..o"}, {5, 60, 0, 0, "rrrrrrrrrr"},  {6, 30, 0, 15, "S.S.S.S.S."},
        {8, 20, 0, 0, "b..b..o..o"}, {9, 60, 0, 0, "rrrrrrrrrr"},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.level);
        World world = playing_world();
        load_level(world, c.level, rng, kNowMs);
        EXPECT_EQ(world.bricks_left, c.breakable);
        EXPECT_EQ(count_breakable(world), c.breakable);
        EXPECT_EQ(count_kind(world, 'G'), c.gold);
        EXPECT_EQ(count_kind(world, 'S'), c.silver);
        for (int column = 0; column < kGridColumns; ++column) {
            char expected = c.row0[column] == '.' ? 0 : c.row0[column];
            EXPECT_EQ(letter_of(world.bricks[0][column].kind), expected) << "column " << column;
        }
        for (int row = 0; row < kGridRows; ++row) {
            for (int column = 0; column < kGridColumns; ++column) {
                const Brick& brick = world.bricks[row][column];
                if (brick.kind == BrickKind::None)
                    continue;
                EXPECT_EQ(brick.hits, brick.kind == BrickKind::Silver ? 2 : 1);
                if (brick.kind == BrickKind::Gold) {
                    EXPECT_EQ(brick.capsule, CapsuleKind::None) << "gold carries nothing";
                }
            }
        }
    }
}

TEST_F(Level, LoadingResetsTheFieldAndKeepsTheGame) {
    World world = playing_world();
    world.paddle_x = 300.5f;
    world.paddle_width = 152;
    world.expanded = true;
    world.expand_time = 3;
    world.slow_time = 4;
    world.laser_time = 5;
    world.last_shot_ms = 777;
    world.score = 1234;
    world.best = 5678;
    world.lives = 2;
    world.level = 7;
    world.levels_cleared = 6;
    world.phase = Phase::LevelClear;
    add_ball(world, 500, 500, 100, -100);
    add_ball(world, 600, 500, 100, -100);
    add_capsule(world, 400, 400, CapsuleKind::Expand);
    world.shots[0] = Shot{400, 400};
    world.shot_count = 1;
    world.bricks[7][9] =
        Brick{BrickKind::Gold, 1, CapsuleKind::None};  // a brick of no layout's bottom row

    load_level(world, 7, rng, kNowMs);

    EXPECT_EQ(world.phase, Phase::Serve);
    EXPECT_EQ(world.phase_start_ms, kNowMs);
    EXPECT_EQ(world.bricks[7][9].kind, BrickKind::None) << "the grid is cleared first";
    ASSERT_EQ(world.ball_count, 1);
    EXPECT_EQ(world.balls[0].stuck, 1);
    EXPECT_EQ(world.balls[0].vx, 0);
    EXPECT_EQ(world.balls[1].x, 0) << "every ball record is cleared";
    EXPECT_EQ(world.capsule_count, 0);
    EXPECT_EQ(world.shot_count, 0);
    EXPECT_EQ(world.expanded, 0);
    EXPECT_EQ(world.expand_time, 0);
    EXPECT_EQ(world.slow_time, 0);

    EXPECT_EQ(world.paddle_x, 300.5f);
    EXPECT_EQ(world.paddle_width, 152);
    EXPECT_EQ(world.laser_time, 5);
    EXPECT_EQ(world.last_shot_ms, 777);
    EXPECT_EQ(world.score, 1234);
    EXPECT_EQ(world.best, 5678);
    EXPECT_EQ(world.lives, 2);
    EXPECT_EQ(world.level, 7);
    EXPECT_EQ(world.levels_cleared, 6);
}

// Replays the random sequence the way the level is meant to use it: one draw
// per breakable brick in reading order, a second one only for a capsule, none
// for gold. The level must also leave the sequence exactly there.
TEST_F(Level, CapsulesComeFromTheRandomSequenceInReadingOrder) {
    for (int level = 1; level <= 4; ++level) {
        SCOPED_TRACE(level);
        const std::uint32_t seed = 4242 + level;
        random_seed(rng, seed);
        World world = playing_world();
        load_level(world, level, rng, kNowMs);
        std::int32_t next_after_load = random_draw(rng);

        random_seed(rng, seed);
        const char* layout = level_layouts[level - 1];
        int capsules = 0;
        for (int cell = 0; cell < kLayoutCells; ++cell) {
            char letter = layout[cell];
            const Brick& brick = world.bricks[cell / 10][cell % 10];
            if (letter == '.' || letter == 'G') {
                EXPECT_EQ(brick.capsule, CapsuleKind::None);
                continue;
            }
            char expected = 0;
            if (random_draw(rng) % 100 <= 35)
                expected = "ESDP"[random_draw(rng) % 4];
            EXPECT_EQ(letter_of(brick.capsule), expected) << "cell " << cell;
            capsules += expected != 0 ? 1 : 0;
        }
        EXPECT_EQ(random_draw(rng), next_after_load) << "no draw more or less than the bricks need";
        EXPECT_GT(capsules, 0);
    }
}

struct HitCase {
    char kind;
    std::uint8_t hits;
    int points;
    char kind_after;  // 0 when destroyed
    int bricks_left_change;
    const char* tone;
};

TEST_F(Level, HitBrickByKind) {
    const HitCase cases[] = {
        {'r', 1, 55, 0, -1, "620/20"}, {'o', 1, 65, 0, -1, "620/20"},
        {'y', 1, 75, 0, -1, "620/20"}, {'g', 1, 85, 0, -1, "620/20"},
        {'b', 1, 95, 0, -1, "620/20"}, {'v', 1, 105, 0, -1, "620/20"},
        {'S', 2, 0, 'S', 0, "440/18"}, {'S', 1, 120, 0, -1, "620/20"},
        {'G', 1, 0, 'G', 0, "240/16"}, {'x', 1, 120, 0, -1, "620/20"},
    };
    for (const HitCase& c : cases) {
        SCOPED_TRACE(c.kind);
        World world = playing_world();
        world.bricks[3][4] = Brick{static_cast<BrickKind>(c.kind), c.hits, CapsuleKind::None};
        world.bricks_left = 5;
        world.score = 1000;
        world.best = 1000;
        hit_brick(world, 4, 3, outbox);
        EXPECT_EQ(world.score, 1000 + c.points);
        EXPECT_EQ(world.best, 1000 + c.points) << "best follows the score at once";
        EXPECT_EQ(letter_of(world.bricks[3][4].kind), c.kind_after);
        EXPECT_EQ(world.bricks_left, 5 + c.bricks_left_change);
        EXPECT_EQ(take_tones(), c.tone);
        if (c.kind_after != 0) {
            EXPECT_EQ(world.bricks[3][4].hits, 1) << "silver cracks, gold never changes";
        }
    }
}

TEST_F(Level, BestStaysWhenTheScoreIsBelowIt) {
    World world = playing_world();
    world.bricks[0][0] = Brick{BrickKind::Violet, 1, CapsuleKind::None};
    world.score = 100;
    world.best = 5000;
    hit_brick(world, 0, 0, outbox);
    EXPECT_EQ(world.score, 205);
    EXPECT_EQ(world.best, 5000);
}

TEST_F(Level, DestroyedBrickReleasesItsCapsuleUnlessEightAreFalling) {
    World world = playing_world();
    world.bricks[2][3] = Brick{BrickKind::Green, 1, CapsuleKind::Split};
    world.bricks_left = 2;
    hit_brick(world, 3, 2, outbox);
    ASSERT_EQ(world.capsule_count, 1);
    EXPECT_EQ(world.capsules[0].x, 490.0f);
    EXPECT_EQ(world.capsules[0].y, 197.0f);
    EXPECT_EQ(world.capsules[0].kind, CapsuleKind::Split);

    // A silver brick only releases on the hit that breaks it.
    world.bricks[7][9] = Brick{BrickKind::Silver, 2, CapsuleKind::Life};
    hit_brick(world, 9, 7, outbox);
    EXPECT_EQ(world.capsule_count, 1);
    hit_brick(world, 9, 7, outbox);
    ASSERT_EQ(world.capsule_count, 2);
    EXPECT_EQ(world.capsules[1].x, 1090.0f);
    EXPECT_EQ(world.capsules[1].y, 377.0f);

    for (int i = world.capsule_count; i < kMaxCapsules; ++i)
        add_capsule(world, 500, 300, CapsuleKind::Expand);
    world.bricks[1][1] = Brick{BrickKind::Blue, 1, CapsuleKind::Slow};
    world.bricks_left = 3;
    int score = world.score;
    hit_brick(world, 1, 1, outbox);
    EXPECT_EQ(world.capsule_count, kMaxCapsules) << "the ninth capsule is lost";
    EXPECT_EQ(world.capsules[7].kind, CapsuleKind::Expand);
    EXPECT_EQ(world.bricks[1][1].kind, BrickKind::None) << "the brick still breaks";
    EXPECT_EQ(world.score, score + 95) << "and scores";
    EXPECT_EQ(world.bricks_left, 2);
}

TEST_F(Level, LayoutThreeClearsWithItsGoldStanding) {
    World world = playing_world();
    load_level(world, 3, rng, kNowMs);
    world.phase = Phase::Play;
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            // Gold shrugs off any number of hits; silver takes two.
            for (int hit = 0; hit < 2 && world.bricks[row][column].kind != BrickKind::None; ++hit) {
                hit_brick(world, column, row, outbox);
            }
        }
    }
    EXPECT_EQ(world.bricks_left, 0);
    EXPECT_EQ(count_kind(world, 'G'), 12);
    world.capsule_count = 0;
    step_world(world, kButtonNone, 0.033f, kNowMs, outbox);
    EXPECT_EQ(world.phase, Phase::LevelClear);
    EXPECT_EQ(world.levels_cleared, 1);
}

}  // namespace
