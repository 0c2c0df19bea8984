// The command line: any list of arguments (the input split at NUL bytes).
// The parse must agree with a plain reading of the rules: "--seconds N"
// (N read like atoi, saturating, then held to 0..3600), "--probe", and
// anything else, or a "--seconds" without a value, refused.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "shell/cli.h"

namespace {

constexpr int kMaxArguments = 16;

// The number the way strtol reads it in base 10: the same blanks, sign and
// digits as atoi, with saturation instead of overflow.
long reference_number(const char* text) {
    errno = 0;
    return std::strtol(text, nullptr, 10);
}

int reference_parse(const std::vector<std::string>& args, Options* out) {
    Options parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size()) {
            long n = reference_number(args[++i].c_str());
            parsed.run_seconds = n < 0 ? 0 : (n > 3600 ? 3600 : static_cast<int>(n));
        } else if (args[i] == "--probe") {
            parsed.probe_only = true;
        } else {
            return -1;
        }
    }
    *out = parsed;
    return 0;
}

}  // namespace

int fuzz_cli(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0)
        args.push_back(current);
    if (args.size() > kMaxArguments)
        args.resize(kMaxArguments);

    std::vector<const char*> argv = {"vmxbrikon"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);

    Options got;
    int result = parse_command_line(static_cast<int>(argv.size()) - 1, argv.data(), &got);
    Options want;
    int expected = reference_parse(args, &want);
    FUZZ_CHECK(result == expected);
    if (result == 0) {
        FUZZ_CHECK(got.run_seconds == want.run_seconds);
        FUZZ_CHECK(got.probe_only == want.probe_only);
        FUZZ_CHECK(got.run_seconds >= 0 && got.run_seconds <= 3600);
    }
    for (const std::string& arg : args) {
        FUZZ_CHECK(parse_decimal(arg.c_str()) == reference_number(arg.c_str()));
    }
    return 0;
}

VMX_FUZZ_ENTRY(fuzz_cli)
