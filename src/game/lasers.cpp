#include "game/lasers.h"

#include "game/level.h"
#include "game/playfield.h"

namespace {

constexpr float kShotSpeed = 950.0f;  // px/s, upward
constexpr std::int64_t kVolleyIntervalMs = 280;
// A volley needs room for its two shots.
constexpr int kMaxShotsBeforeVolley = kMaxShots - 2;

constexpr Tone kLaserTone = {980, 28};

}  // namespace

void fire_lasers(World& world, std::int64_t now_ms, Outbox& outbox) {
    if (world.laser_time <= 0)
        return;
    if (world.shot_count > kMaxShotsBeforeVolley)
        return;
    if (now_ms - world.last_shot_ms < kVolleyIntervalMs)
        return;
    world.last_shot_ms = now_ms;

    int half_width = world.paddle_width / 2;
    world.shots[world.shot_count++] = Shot{world.paddle_x - half_width + kShotInset, kShotStartY};
    world.shots[world.shot_count++] = Shot{world.paddle_x + half_width - kShotInset, kShotStartY};
    request_tone(outbox, kLaserTone);
}

void step_shots(World& world, float dt, Outbox& outbox) {
    int kept = 0;
    for (int i = 0; i < world.shot_count; ++i) {
        Shot shot = world.shots[i];
        shot.y -= kShotSpeed * dt;
        if (shot.y <= kCeiling)
            continue;
        // Only the top end is tested, once per step after moving; a gold
        // brick uses the shot up too.
        Cell cell;
        if (find_cell(shot.x, shot.y, &cell) &&
            world.bricks[cell.row][cell.column].kind != BrickKind::None) {
            hit_brick(world, cell.column, cell.row, outbox);
            continue;
        }
        world.shots[kept++] = shot;
    }
    world.shot_count = kept;
}
