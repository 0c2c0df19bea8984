#include "game/capsules.h"

#include <cmath>

#include "game/balls.h"
#include "game/playfield.h"
#include "game/trig.h"

namespace {

constexpr float kFallSpeed = 170.0f;  // px/s
constexpr int kCatchPoints = 500;

constexpr float kExpandSeconds = 25.0f;
constexpr float kSlowSeconds = 20.0f;
constexpr int kMostLivesForBonus = 5;  // a P adds a life only up to six
constexpr float kSplitAngle = 0.45f;   // rad, about 25.8 degrees

constexpr Tone kCatchTones[] = {{700, 24}, {1050, 24}};
constexpr Tone kLifeTones[] = {{880, 60}, {1320, 90}};

// A copy of source turned by angle, at the source's speed; a ball with next
// to no speed (one riding on the paddle) gets the current ball speed.
Ball turned_copy(const World& world, const Ball& source, float angle) {
    Ball copy = source;
    float sp = std::sqrt(source.vx * source.vx + source.vy * source.vy);
    if (sp < 1)
        sp = ball_speed(world);
    float a = atan2_rounded(source.vy, source.vx) + angle;
    copy.vx = sp * cos_rounded(a);
    copy.vy = sp * sin_rounded(a);
    return copy;
}

bool caught(const Capsule& capsule, float paddle_x, int half_width) {
    return capsule.y >= kCatchTop && capsule.y <= kCatchBottom &&
           capsule.x >= paddle_x - half_width - kCatchReach &&
           capsule.x <= paddle_x + half_width + kCatchReach;
}

}  // namespace

void split_balls(World& world) {
    int sources = world.ball_count;
    if (sources == 0 || sources == kMaxBalls)
        return;
    const float angles[] = {kSplitAngle, -kSplitAngle};
    for (int i = 0; i < sources; ++i) {
        for (float angle : angles) {
            if (world.ball_count == kMaxBalls)
                return;
            world.balls[world.ball_count] = turned_copy(world, world.balls[i], angle);
            world.ball_count += 1;
        }
    }
}

void apply_capsule(World& world, CapsuleKind kind, Outbox& outbox) {
    switch (kind) {
        case CapsuleKind::Expand:
            world.expanded = true;
            world.expand_time = kExpandSeconds;
            break;
        case CapsuleKind::Slow:
            world.slow_time = kSlowSeconds;
            break;
        case CapsuleKind::Split:
            split_balls(world);
            break;
        case CapsuleKind::Life:
            if (world.lives <= kMostLivesForBonus)
                world.lives += 1;
            request_tones(outbox, kLifeTones);
            break;
        case CapsuleKind::None:
            break;
    }
}

void step_capsules(World& world, float dt, int half_width, Outbox& outbox) {
    int kept = 0;
    for (int i = 0; i < world.capsule_count; ++i) {
        Capsule capsule = world.capsules[i];
        capsule.y += kFallSpeed * dt;
        if (caught(capsule, world.paddle_x, half_width)) {
            // The catch leaves best alone; it catches up at the next brick,
            // level clear or game over.
            world.score += kCatchPoints;
            apply_capsule(world, capsule.kind, outbox);
            request_tones(outbox, kCatchTones);
            continue;
        }
        if (capsule.y < kMissedY)
            world.capsules[kept++] = capsule;
    }
    world.capsule_count = kept;
}
