// Golden frames: one scripted game on the emulated goggles, with chosen
// frames saved as PNG and compared pixel for pixel with the images in
// tests/golden/. With VMX_UPDATE_GOLDEN=1 in the environment the images are
// written there instead (scripts/update-golden); look at every one before
// committing it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "emulator/adc_device.h"
#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "shell/main_loop.h"
#include "support/run_game.h"
#include "tools/png_image.h"

namespace {

constexpr std::int64_t kStart = emu::kVirtualStartMs;

// A moment of the script: press or release a button, change the game.world, or
// save the page on display.
struct Step {
    std::int64_t at_ms;  // from the start of the run
    std::function<void()> act;
};

std::vector<Step>& steps() {
    static std::vector<Step> all;
    return all;
}

void run_step(void* index) {
    steps()[reinterpret_cast<std::uintptr_t>(index)].act();
}

void hold(ButtonCode code) {
    emu::adc::hold_button(code);
}

struct Frame {
    const char* name;
    std::int64_t at_ms;
};

// The frames the golden images show, in the order the script reaches them.
const Frame kFrames[] = {
    {"title_prompt_hidden", 300}, {"title_prompt_shown", 700},  {"serve_new_game", 1500},
    {"serve_paused", 2000},       {"play_busy", 3300},          {"level_clear", 3700},
    {"level3_serve", 5800},       {"game_over_new_best", 6700},
};

void script(const std::string& out_dir, Game& game) {
    steps() = {
        {800, [] { hold(kButtonMiddle); }},  // start a new game
        {900, [] { hold(kButtonNone); }},
        {1600, [] { hold(kButtonBack); }},  // pause while serving
        {1700, [] { hold(kButtonNone); }},
        {2100, [] { hold(kButtonBack); }},  // resume
        {2200, [] { hold(kButtonNone); }},
        {2400, [] { hold(kButtonMiddle); }},  // launch, then keep firing
        {3000,
         [&game] {
             // A busy moment: both power-ups running, capsules falling and
             // three balls in the air.
             game.world.expanded = true;
             game.world.expand_time = 9.5f;
             game.world.slow_time = 3.2f;
             game.world.capsule_count = 4;
             game.world.capsules[0] = {290.0f, 300.0f, CapsuleKind::Expand};
             game.world.capsules[1] = {590.0f, 420.0f, CapsuleKind::Slow};
             game.world.capsules[2] = {890.0f, 500.0f, CapsuleKind::Split};
             game.world.capsules[3] = {1090.0f, 600.0f, CapsuleKind::Life};
             game.world.ball_count = 3;
             game.world.balls[1] = {400.0f, 450.0f, 200.0f, -300.0f, 0};
             game.world.balls[2] = {800.0f, 380.0f, -250.0f, -250.0f, 0};
         }},
        {3400, [] { hold(kButtonNone); }},
        {3500,
         [&game] {
             // Break every brick at once: the next step clears the level.
             for (auto& row : game.world.bricks) {
                 for (Brick& brick : row)
                     brick = Brick{};
             }
             game.world.bricks_left = 0;
         }},
        {4000, [&game] { game.world.level = 2; }},  // the next level loaded is the third layout
        {6000,
         [&game] {
             // The last life lost with the best beaten: game over.
             game.world.lives = 1;
             game.world.score = 4321;
             game.world.ball_count = 1;
             game.world.balls[0] = {640.0f, 800.0f, 0.0f, 400.0f, 0};
             game.world.phase = Phase::Play;
         }},
    };
    for (const Frame& frame : kFrames) {
        std::string path = out_dir + "/" + frame.name + ".png";
        steps().push_back(
            {frame.at_ms, [path] { png::save_area(path.c_str(), emu::fb::displayed_area()); }});
    }
    for (std::size_t i = 0; i < steps().size(); ++i) {
        emu::at_time(kStart + steps()[i].at_ms, run_step, reinterpret_cast<void*>(i));
    }
}

TEST(GoldenFrames, ScriptedGameMatchesTheCommittedImages) {
    const char* update = std::getenv("VMX_UPDATE_GOLDEN");
    bool updating = update != nullptr && std::string(update) == "1";
    std::string golden_dir = std::string(VMX_SOURCE_DIR) + "/tests/golden";
    std::string out_dir = updating ? golden_dir : make_temp_dir();

    GameRun run;
    run.args = {"--seconds", "7"};
    run.watch = [out_dir](RunState& game_run) { script(out_dir, game_run.game); };
    GameResult result = run_game(run);
    ASSERT_EQ(result.status, 0) << result.stderr_text;
    EXPECT_GT(result.frames_checked, 200) << "every frame is also drawn whole and compared";
    if (updating)
        GTEST_SKIP() << "golden images written to " << golden_dir;

    for (const Frame& frame : kFrames) {
        SCOPED_TRACE(frame.name);
        png::Image want;
        png::Image got;
        ASSERT_TRUE(png::read((golden_dir + "/" + frame.name + ".png").c_str(), 3, want));
        ASSERT_TRUE(png::read((out_dir + "/" + frame.name + ".png").c_str(), 3, got));
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        std::size_t differing = 0;
        std::size_t first = got.pixels.size();
        for (std::size_t i = 0; i < got.pixels.size(); ++i) {
            if (got.pixels[i] != want.pixels[i]) {
                ++differing;
                if (first == got.pixels.size())
                    first = i;
            }
        }
        EXPECT_EQ(differing, 0u) << "first difference at pixel (" << (first / 3) % 1280 << ", "
                                 << (first / 3) / 1280 << "); the frame is in " << out_dir;
    }
}

}  // namespace
