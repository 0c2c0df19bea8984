#pragma once

// Where the best score lives between runs: one decimal number and a newline.
// The folder belongs to the goggles; the game never creates it.
constexpr const char* kHighScorePath = "/record/vemlo-x/data/brikon.hi";
// A new best is written to a temporary file beside the file and then renamed
// over it, so a power cut or a kill never leaves the stored best half-written.
// When the file is a link, the temporary sits beside the file the link leads
// to, named like it with this ending.
constexpr const char* kHighScoreTempSuffix = ".tmp";
constexpr const char* kHighScoreTempPath = "/record/vemlo-x/data/brikon.hi.tmp";
constexpr const char* kHighScoreDir = "/record/vemlo-x/data";

// The stored best, or 0 when there is no readable number. The number is read
// like "%d": leading white space skipped, an optional sign, whatever follows
// ignored; a number too large for an int counts as none. Only a regular file
// is read: anything else in its place (a pipe, a folder) counts as no file,
// and opening it never waits.
int load_high_score();

// Stores best; failures are silent. A link at the path is followed and the
// file it leads to replaced. When the replacement cannot be made, the
// existing file is rewritten in place instead; anything but a regular file is
// never written.
void save_high_score(int best);
