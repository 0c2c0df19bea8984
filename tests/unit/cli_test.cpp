#include "shell/cli.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct CliCase {
    std::vector<const char*> args;  // after the program name
    int result;
    int run_seconds;
    bool probe_only;
};

TEST(CommandLine, AcceptsAndRejectsAsTheGameExpects) {
    const CliCase cases[] = {
        {{}, 0, 0, false},
        {{"--probe"}, 0, 0, true},
        {{"--seconds", "2"}, 0, 2, false},
        {{"--seconds", "0"}, 0, 0, false},
        {{"--seconds", "-5"}, 0, 0, false},
        {{"--seconds", "abc"}, 0, 0, false},
        {{"--seconds", ""}, 0, 0, false},
        {{"--seconds", "  42xyz"}, 0, 42, false},
        {{"--seconds", "+7"}, 0, 7, false},
        {{"--seconds", "3601"}, 0, 3600, false},
        {{"--seconds", "99999999999999999999999999"}, 0, 3600, false},
        {{"--seconds", "-99999999999999999999999999"}, 0, 0, false},
        {{"--seconds", "5", "--seconds", "9"}, 0, 9, false},
        {{"--probe", "--seconds", "3", "--probe"}, 0, 3, true},
        {{"--seconds"}, -1, 0, false},
        {{"--probe", "--seconds"}, -1, 0, false},
        {{"--seconds", "2", "--bogus"}, -1, 0, false},
        {{""}, -1, 0, false},
        {{"--PROBE"}, -1, 0, false},
        {{"-probe"}, -1, 0, false},
        {{"--probe=1"}, -1, 0, false},
    };
    for (const CliCase& c : cases) {
        std::vector<const char*> argv = {"vmxbrikon"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Options options;
        options.run_seconds = -1;
        int result = parse_command_line(static_cast<int>(argv.size()), argv.data(), &options);
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(result, c.result);
        if (result == 0) {
            EXPECT_EQ(options.run_seconds, c.run_seconds);
            EXPECT_EQ(options.probe_only, c.probe_only);
        } else {
            EXPECT_EQ(options.run_seconds, -1) << "a rejected command line changes nothing";
        }
    }
}

TEST(CommandLine, DecimalSaturatesInsteadOfOverflowing) {
    // long is 64 bits on the build machine and 32 on the goggles: one past the
    // largest 32-bit value is kept by the one and saturates on the other.
    constexpr long long kPastLargest32 = 2147483648LL;
    EXPECT_EQ(parse_decimal("2147483648"), kPastLargest32 <= LONG_MAX ? kPastLargest32 : LONG_MAX);
    EXPECT_EQ(parse_decimal(std::to_string(LONG_MAX).c_str()), LONG_MAX);
    EXPECT_EQ(parse_decimal(std::to_string(LONG_MIN).c_str()), LONG_MIN);
    EXPECT_EQ(parse_decimal("9223372036854775807"), LONG_MAX);
    EXPECT_EQ(parse_decimal("9223372036854775808"), LONG_MAX);
    EXPECT_EQ(parse_decimal("-9223372036854775809"), LONG_MIN);
    EXPECT_EQ(parse_decimal("\t\n 12"), 12);
    EXPECT_EQ(parse_decimal("- 12"), 0);
}

}  // namespace
