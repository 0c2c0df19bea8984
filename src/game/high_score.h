#pragma once

// Where the best score lives between runs: one decimal number and a newline.
constexpr const char* kHighScorePath = "/record/vemlo-x/data/brikon.hi";

// The stored best, or 0 when there is no readable number.
int load_high_score();

// Stores best; failures are silent and leave the stored file as it was.
void save_high_score(int best);
