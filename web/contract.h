#pragma once
// What the page's JavaScript and the game must agree on, beyond the numbers
// the game's own headers already name: the glance at the game that the
// worker hands to the page. make_contract.cpp writes all of it, with those
// numbers, into contract.js for the page.
#include <cstdint>

#include "sim/session.h"

namespace web {

// One look at the running game, as the worker takes it.
struct GlanceSample {
    sim::Session::Glance glance;
    std::int64_t frames = 0;      // frames shown since the start
    std::int64_t elapsed_ms = 0;  // since the start
    std::int64_t buzzer_changes = 0;
};

// The glance crosses into JavaScript as one double per field, in this
// order, and the page knows each by its name here. A flag is 0 or 1.
struct GlanceField {
    const char* name;
    bool flag;
    double (*value)(const GlanceSample&);
};

inline constexpr GlanceField kGlanceFields[] = {
    {"phase", false, [](const GlanceSample& s) { return double(s.glance.phase); }},
    {"paused", true, [](const GlanceSample& s) { return double(s.glance.paused); }},
    {"score", false, [](const GlanceSample& s) { return double(s.glance.score); }},
    {"best", false, [](const GlanceSample& s) { return double(s.glance.best); }},
    {"level", false, [](const GlanceSample& s) { return double(s.glance.level); }},
    {"lives", false, [](const GlanceSample& s) { return double(s.glance.lives); }},
    {"paddleX", false, [](const GlanceSample& s) { return double(s.glance.paddle_x); }},
    {"frames", false, [](const GlanceSample& s) { return double(s.frames); }},
    {"elapsedMs", false, [](const GlanceSample& s) { return double(s.elapsed_ms); }},
    {"buzzerChanges", false, [](const GlanceSample& s) { return double(s.buzzer_changes); }},
    {"demoPlayed", true, [](const GlanceSample& s) { return double(s.glance.demo_played); }},
    {"presses", false, [](const GlanceSample& s) { return double(s.glance.presses); }},
    {"demo", true, [](const GlanceSample& s) { return double(s.glance.demo); }},
};
inline constexpr int kGlanceFieldCount = sizeof(kGlanceFields) / sizeof(kGlanceFields[0]);

}  // namespace web
