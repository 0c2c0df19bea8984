#include "sim/options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

// Eleven and a half days: far beyond any run, and safe from overflow when
// added to the clock.
constexpr std::int64_t kMaxMs = 1000000000;

struct ModeName {
    const char* name;
    GoggleMode mode;
};
constexpr ModeName kModeNames[] = {
    {"normal", GoggleMode::Normal},
    {"hdmi", GoggleMode::Hdmi},
    {"av", GoggleMode::Av},
    {"none", GoggleMode::None},
};

bool parse_ms(const char* begin, const char* end, std::int64_t* out) {
    if (begin == end)
        return false;
    std::int64_t value = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > kMaxMs)
            return false;
    }
    *out = value;
    return true;
}

// The options whose value is a file or a folder.
struct PathOption {
    const char* name;
    std::string SimOptions::*member;
};
constexpr PathOption kPathOptions[] = {
    {"--script", &SimOptions::script_path}, {"--out", &SimOptions::out_dir},
    {"--data", &SimOptions::data_dir},      {"--record", &SimOptions::record_path},
    {"--replay", &SimOptions::replay_path}, {"--frame-log", &SimOptions::frame_log_path},
};

const PathOption* path_option(const std::string& arg) {
    for (const PathOption& option : kPathOptions) {
        if (arg == option.name)
            return &option;
    }
    return nullptr;
}

bool takes_value(const std::string& arg) {
    return arg == "--seconds" || arg == "--goggle-mode" || arg == "--screenshot-at" ||
           arg == "--speed" || arg == "--from" || path_option(arg) != nullptr;
}

// An option with its value; "" or why it is refused.
std::string take_value(const std::string& arg, const char* value, SimOptions* parsed) {
    if (arg == "--seconds") {
        // The game reads the number itself, as on the goggles.
        parsed->game_args.push_back(arg);
        parsed->game_args.push_back(value);
        parsed->game_seconds = true;
    } else if (arg == "--goggle-mode") {
        const ModeName* found = nullptr;
        for (const ModeName& mode : kModeNames) {
            if (std::strcmp(mode.name, value) == 0)
                found = &mode;
        }
        if (!found)
            return std::string("unknown goggle mode '") + value + "'";
        parsed->goggle_mode = found->mode;
    } else if (arg == "--screenshot-at") {
        if (!parse_ms_list(value, &parsed->screenshot_ms))
            return std::string("--screenshot-at wants milliseconds like 500,2000, not '") + value +
                   "'";
    } else if (arg == "--speed") {
        // As the window's + and - step: from a quarter of the speed played
        // to eight times it.
        char* end = nullptr;
        const double speed = std::strtod(value, &end);
        if (end == value || *end != '\0' || !(speed >= 0.25 && speed <= 8))
            return std::string("--speed wants a number from 0.25 to 8, not '") + value + "'";
        parsed->replay_speed = speed;
    } else if (arg == "--from") {
        std::vector<std::int64_t> ms;
        if (!parse_ms_list(value, &ms) || ms.size() != 1)
            return std::string("--from wants milliseconds like 5000, not '") + value + "'";
        parsed->replay_from_ms = ms[0];
    } else {
        parsed->*path_option(arg)->member = value;
    }
    return "";
}

// An option without a value; false if there is no such option.
bool take_flag(const std::string& arg, SimOptions* parsed) {
    if (arg == "--probe")
        parsed->game_args.push_back(arg);
    else if (arg == "--mute")
        parsed->mute = true;
    else if (arg == "--headless")
        parsed->headless = true;
    else if (arg == "--virtual-time")
        parsed->virtual_time = true;
    else if (arg == "--autoplay")
        parsed->autoplay = true;
    else if (arg == "--paused")
        parsed->replay_paused = true;
    else if (arg == "--help" || arg == "-h")
        parsed->help = true;
    else
        return false;
    return true;
}

// The options that do not go together; "" when they all do.
std::string check_together(const SimOptions& parsed) {
    if (!parsed.screenshot_ms.empty() && parsed.out_dir.empty())
        return "--screenshot-at needs --out DIR";
    if (parsed.screenshot_ms.empty() && !parsed.out_dir.empty())
        return "--out needs --screenshot-at MS[,MS...]";
    // A replay brings its game's options, its clock and its best score.
    if (parsed.replay_path.empty())
        return parsed.replay_speed > 0 || parsed.replay_from_ms > 0 || parsed.replay_paused
                   ? "--speed, --from and --paused are a replay's (--replay FILE)"
                   : "";
    if (!parsed.record_path.empty())
        return "--replay and --record do not go together";
    if (!parsed.game_args.empty())
        return "--replay runs the game with the options it was recorded with";
    if (parsed.virtual_time)
        return "--replay keeps the recorded clock; --virtual-time has no place there";
    if (!parsed.data_dir.empty())
        return "--replay starts from the recorded best score; --data has no place there";
    return "";
}

}  // namespace

const char kSimUsage[] =
    "Usage: vmxbrikon-sim [--seconds N] [--probe] [--goggle-mode normal|hdmi|av|none]\n"
    "                     [--mute] [--headless] [--virtual-time] [--script FILE]\n"
    "                     [--screenshot-at MS[,MS...] --out DIR] [--autoplay]\n"
    "                     [--data DIR] [--record FILE] [--frame-log FILE]\n"
    "                     [-- GAME-ARGUMENTS...]\n"
    "       vmxbrikon-sim --replay FILE [--headless] [--mute] [--speed X] [--from MS] [--paused]\n"
    "                     [--screenshot-at MS[,MS...] --out DIR] [--frame-log FILE]\n";

bool parse_ms_list(const char* text, std::vector<std::int64_t>* out) {
    std::vector<std::int64_t> list;
    const char* item = text;
    for (;;) {
        const char* comma = std::strchr(item, ',');
        const char* end = comma ? comma : item + std::strlen(item);
        std::int64_t ms = 0;
        if (!parse_ms(item, end, &ms))
            return false;
        list.push_back(ms);
        if (!comma)
            break;
        item = comma + 1;
    }
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    *out = list;
    return true;
}

std::string parse_sim_options(int argc, const char* const* argv, SimOptions* options) {
    SimOptions parsed;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i)
                parsed.game_args.push_back(argv[i]);
            break;
        }
        if (takes_value(arg)) {
            if (i + 1 >= argc)
                return arg + " needs a value";
            std::string reason = take_value(arg, argv[++i], &parsed);
            if (!reason.empty())
                return reason;
        } else if (!take_flag(arg, &parsed)) {
            return "unknown option '" + arg + "'";
        }
    }
    std::string reason = check_together(parsed);
    if (reason.empty())
        *options = parsed;
    return reason;
}

}  // namespace sim
