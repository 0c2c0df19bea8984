#include "pilot.h"

#include "sim/autoplay.h"

namespace {
constexpr std::int64_t kPressHalfMs = 120;
}  // namespace

ButtonCode pressing(std::int64_t now, ButtonCode button) {
    return (now / kPressHalfMs) % 2 == 0 ? kButtonNone : button;
}

void GamePilot::enter(PilotStage stage, std::int64_t now) {
    const PilotStage from = stage_;
    stage_ = stage;
    stage_start_ms_ = now;
    if (entered)
        entered(from, stage, now);
}

ButtonCode GamePilot::step(std::int64_t now) {
    if (before_step)
        before_step(stage_, now);
    const World& world = run_.game.world;
    ButtonCode hold = kButtonNone;
    switch (stage_) {
        case PilotStage::StartGame:
            hold = pressing(now);
            if (world.phase == Phase::Serve)
                enter(PilotStage::ClearLevel, now);
            break;
        case PilotStage::ClearLevel:
            if (world.phase == Phase::Serve)
                hold = pressing(now);
            if (world.phase == Phase::Play) {
                hold = sim::steer_button(world);
                if (in_play)
                    hold = in_play(hold, now);
            }
            if (world.phase == Phase::LevelClear)
                enter(PilotStage::WaitNextLevel, now);
            if (world.phase == Phase::GameOver)
                enter(PilotStage::BackToTitle, now);  // lost before clearing
            break;
        case PilotStage::WaitNextLevel:
            if (world.phase == Phase::Serve)
                enter(PilotStage::LoseAll, now);
            break;
        case PilotStage::LoseAll:
            if (world.phase == Phase::Serve)
                hold = pressing(now);
            if (world.phase == Phase::Play)
                hold = sim::dodge_button(world);
            if (world.phase == Phase::GameOver)
                enter(PilotStage::BackToTitle, now);
            break;
        case PilotStage::BackToTitle:
            hold = pressing(now);
            if (world.phase == Phase::Title)
                enter(PilotStage::Finished, now);
            break;
        case PilotStage::Finished:
            break;
    }
    return hold;
}
