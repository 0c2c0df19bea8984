// Writes the expectations of pinned replays (tests/replays/README.md): plays
// each FILE.vmxr on the emulated goggles and writes FILE.expect beside it,
// with the fingerprints of every Nth frame and the last, of the picture on
// display every so many ms, and the closing lines. scripts/pin-replay runs
// it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support/pinned_replay.h"
#include "support/run_game.h"

namespace {

constexpr const char* kUsage =
    "usage: replay_pin [--every-frames N] [--every-ms MS] [--recorded-with ARGS] FILE.vmxr...\n";

struct PinOptions {
    long every_frames = 10;
    std::int64_t every_ms = 1000;
    std::string recorded_with;
};

// The frames kept of those fingerprinted: every Nth, and the last.
void keep_frames(ReplayOutcome* outcome, long every) {
    for (auto it = outcome->frame_prints.begin(); it != outcome->frame_prints.end();) {
        const bool kept = it->first % every == 0 || it->first == outcome->frames;
        it = kept ? std::next(it) : outcome->frame_prints.erase(it);
    }
}

bool pin(const std::string& path, const PinOptions& options) {
    const std::string base = path.substr(0, path.size() - 5);
    const std::string bytes = read_file(path);
    if (bytes.empty()) {
        std::fprintf(stderr, "replay_pin: cannot read %s\n", path.c_str());
        return false;
    }
    // A new pin of an old replay keeps how it was recorded.
    std::string recorded_with = options.recorded_with;
    const std::vector<std::string> before =
        expectation_values(read_file(base + ".expect"), "recorded-with");
    if (recorded_with.empty() && !before.empty())
        recorded_with = before[0];
    ReplayPlan plan;
    plan.every_frame = true;
    plan.every_ms = options.every_ms;
    ReplayOutcome outcome = play_replay(bytes, plan);
    // What an older build pinned stays, for a build that reads it again.
    if (!outcome.refusal.empty() && !read_file(base + ".expect").empty()) {
        std::printf("%s.expect: kept (this build refuses it: %s)\n", base.c_str(),
                    outcome.refusal.c_str());
        return true;
    }
    keep_frames(&outcome, options.every_frames);
    const std::size_t slash = base.rfind('/');
    const std::string name = slash == std::string::npos ? base : base.substr(slash + 1);
    std::ofstream(base + ".expect") << expectation_text(name, bytes, outcome, recorded_with);
    const std::string summary = outcome.refusal.empty()
                                    ? "status " + std::to_string(outcome.status) + ", " +
                                          std::to_string(outcome.frames) + " frames"
                                    : "refused: " + outcome.refusal;
    std::printf("%s.expect: %s\n", base.c_str(), summary.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    PinOptions options;
    int files = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--every-frames" && i + 1 < argc) {
            options.every_frames = std::max(1L, std::atol(argv[++i]));
        } else if (arg == "--every-ms" && i + 1 < argc) {
            options.every_ms = std::max(1LL, std::atoll(argv[++i]));
        } else if (arg == "--recorded-with" && i + 1 < argc) {
            options.recorded_with = argv[++i];
        } else if (arg.size() > 5 && arg.compare(arg.size() - 5, 5, ".vmxr") == 0) {
            ok = pin(arg, options) && ok;
            files += 1;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (files == 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return ok ? 0 : 1;
}
