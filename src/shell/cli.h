#pragma once

// What the command line asks for: vmxbrikon [--seconds N] [--probe].
struct Options {
    int run_seconds = 0;  // 0..3600; 0 means no time limit
    bool probe_only = false;
};

constexpr const char* kUsageLine = "Usage: vmxbrikon [--seconds N] [--probe]\n";

// 0 and the options, or -1 for a command line the game does not take.
int parse_command_line(int argc, const char* const* argv, Options* options);

// Reads a decimal number the way atoi does (leading blanks, an optional sign,
// digits up to the first other character; no number is 0), but saturates
// instead of overflowing.
long parse_decimal(const char* text);
