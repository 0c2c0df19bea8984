#pragma once

// Where the best score lives between runs: one decimal number and a newline.
// The folder belongs to the goggles; the game never creates it.
constexpr const char* kHighScorePath = "/record/vemlo-x/data/brikon.hi";
// A new best is written here first and then renamed over the old file, so a
// power cut or a kill never leaves the stored best half-written.
constexpr const char* kHighScoreTempPath = "/record/vemlo-x/data/brikon.hi.tmp";
constexpr const char* kHighScoreDir = "/record/vemlo-x/data";

// The stored best, or 0 when there is no readable number. The number is read
// like "%d": leading white space skipped, an optional sign, whatever follows
// ignored; a number too large for an int counts as none.
int load_high_score();

// Stores best; failures are silent and leave the stored file as it was.
void save_high_score(int best);
