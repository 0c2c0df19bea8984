#include "shell/cli.h"

#include <cctype>
#include <climits>
#include <cstring>

namespace {
constexpr int kMaxRunSeconds = 3600;
}  // namespace

long parse_decimal(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        int digit = *text - '0';
        if (value > (LONG_MAX - digit) / 10)
            return negative ? LONG_MIN : LONG_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

int parse_command_line(int argc, const char* const* argv, Options* options) {
    Options parsed;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            long seconds = parse_decimal(argv[++i]);
            if (seconds < 0)
                seconds = 0;
            if (seconds > kMaxRunSeconds)
                seconds = kMaxRunSeconds;
            parsed.run_seconds = static_cast<int>(seconds);
        } else if (std::strcmp(argv[i], "--probe") == 0) {
            parsed.probe_only = true;
        } else {
            return -1;
        }
    }
    *options = parsed;
    return 0;
}
