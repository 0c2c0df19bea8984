#pragma once

// Where the best score lives between runs: one decimal number and a newline.
// The folder belongs to the goggles; the game never creates it.
constexpr const char* kHighScorePath = "/record/vemlo-x/data/brikon.hi";
constexpr const char* kHighScoreDir = "/record/vemlo-x/data";

// The stored best, or 0 when there is no readable number. The number is read
// like "%d": leading white space skipped, an optional sign, whatever follows
// ignored; a number too large for an int counts as none. Only a regular file
// is read: anything else in its place (a pipe, a folder) counts as no file,
// and opening it never waits.
int load_high_score();

// Stores best and returns once it is on the disk; failures are silent. The
// file is rewritten in place, in steps that each leave a whole number in it,
// so that a kill or a power cut during the save finds the old best or the new
// one, on any file system, the goggles' FAT card among them. A link at the
// path is followed; anything but a regular file is never written.
void save_high_score(int best);
