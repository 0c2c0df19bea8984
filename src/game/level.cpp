#include "game/level.h"

#include "game/balls.h"
#include "game/layouts.h"
#include "game/playfield.h"
#include "game/rng.h"
#include "game/score.h"

namespace {

struct BrickRule {
    BrickKind kind;
    std::uint8_t hits;  // hits to break it
    int points;         // scored when it is destroyed
};

constexpr char kEmpty = '.';

// Gold is not listed: it never breaks, scores nothing and carries nothing
// (it is loaded with one hit that is never taken).
constexpr BrickRule kBrickRules[] = {
    {BrickKind::Red, 1, 55},     {BrickKind::Orange, 1, 65}, {BrickKind::Yellow, 1, 75},
    {BrickKind::Green, 1, 85},   {BrickKind::Blue, 1, 95},   {BrickKind::Violet, 1, 105},
    {BrickKind::Silver, 2, 120},
};
// A letter the layouts never use still makes a sound one-hit brick.
constexpr BrickRule kOtherRule = {BrickKind::None, 1, 120};

constexpr BrickRule rule_of(BrickKind kind) {
    for (const BrickRule& rule : kBrickRules) {
        if (rule.kind == kind)
            return rule;
    }
    return kOtherRule;
}

// Each breakable brick carries a capsule with 36 chances in 100, the four
// kinds equally likely.
constexpr int kCapsuleChanceBelow = 36;
constexpr CapsuleKind kCapsuleKinds[] = {CapsuleKind::Expand, CapsuleKind::Slow, CapsuleKind::Split,
                                         CapsuleKind::Life};

constexpr Tone kGoldTone = {240, 16};
constexpr Tone kCrackTone = {440, 18};
constexpr Tone kBreakTone = {620, 20};

}  // namespace

void load_level(World& world, int level, Rng& rng, std::int64_t now_ms) {
    for (auto& row : world.bricks) {
        for (Brick& brick : row)
            brick = Brick{};
    }
    world.bricks_left = 0;

    // Layouts repeat: level 5 is the first one again.
    int index = (level - 1) % kLayoutCount;
    if (index < 0)
        index += kLayoutCount;
    const char* layout = level_layouts[index];

    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            char letter = layout[row * kGridColumns + column];
            if (letter == kEmpty)
                continue;
            Brick& brick = world.bricks[row][column];
            brick.kind = static_cast<BrickKind>(letter);
            brick.hits = rule_of(brick.kind).hits;
            if (brick.kind == BrickKind::Gold)
                continue;
            world.bricks_left += 1;
            // The draws are made in this order for every breakable brick, so
            // the same frame count always gives the same capsules.
            if (random_draw(rng) % 100 < kCapsuleChanceBelow) {
                brick.capsule = kCapsuleKinds[random_draw(rng) % 4];
            }
        }
    }

    reset_balls(world);

    world.shot_count = 0;
    world.capsule_count = 0;
    world.slow_time = 0;
    world.expand_time = 0;
    world.expanded = false;

    enter_phase(world, Phase::Serve, now_ms);
}

void hit_brick(World& world, int column, int row, Outbox& outbox) {
    Brick& brick = world.bricks[row][column];
    if (brick.kind == BrickKind::Gold) {
        request_tone(outbox, kGoldTone);
        return;
    }
    brick.hits -= 1;
    if (brick.hits != 0) {
        request_tone(outbox, kCrackTone);
        return;
    }

    add_points(world, rule_of(brick.kind).points);
    if (brick.capsule != CapsuleKind::None && world.capsule_count < kMaxCapsules) {
        Capsule& capsule = world.capsules[world.capsule_count++];
        capsule.x = capsule_start_x(column);
        capsule.y = capsule_start_y(row);
        capsule.kind = brick.capsule;
    }
    // With eight capsules already falling this one is lost, but the brick
    // still breaks and scores.
    brick.kind = BrickKind::None;
    world.bricks_left -= 1;
    request_tone(outbox, kBreakTone);
}
