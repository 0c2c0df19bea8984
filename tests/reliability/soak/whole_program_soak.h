#pragma once
// The soak: the whole program on the emulated goggles with virtual time,
// played by the automatic player game after game for as long as asked, with
// the game's invariants checked after every frame and the memory of the
// process sampled every game minute (a third of a shorter soak) and at the end.
#include <cstdint>
#include <string>

#include "support/run_game.h"

struct SoakReport {
    GameResult result;
    bool complete = false;  // the report was written at the end of the soak
    long long frames = 0;
    long long games = 0;
    long long levels_cleared = 0;
    long long capsules_caught = 0;
    long long most_balls = 0;
    long long best = 0;
    long long rallies_let_go = 0;  // rallies that went on without scoring
    long long breaks = 0;          // invariant breaks
    std::string first_break;       // what broke first, and when
    long long rss_warm_kib = 0;
    long long rss_last_kib = 0;
    long long rss_most_kib = 0;
    long long seconds = 0;  // game time covered
};

// Plays for game_seconds of virtual time, then ends the program with
// SIGTERM and collects the report.
SoakReport run_soak(long long game_seconds, int timeout_seconds);

std::string describe(const SoakReport& report);
