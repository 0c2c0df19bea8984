// The fault matrix: every call that the game makes through the OS seam in
// the reference run is made to fail, one at a time, and the whole run is held
// against the row of fault_matrix.tsv that says what must come of it.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "scripted_game.h"
#include "shell/high_score.h"

namespace {

constexpr const char* kMatrixPath = VMX_SOURCE_DIR "/tests/reliability/fault_matrix.tsv";
// A call made at most this often in the reference run is failed at every
// occurrence: each one is its own place in the game.
constexpr int kEveryOccurrenceUpTo = 8;

struct Row {
    int line = 0;
    std::string call;
    std::string target;
    std::string occurrence;
    std::string error;
    int status = 0;
    std::string display;
    std::string best;
    std::string stderr_lines;
    std::string setup = "-";  // how the high-score file stands (scripted_game.h)
};

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos)
            return parts;
        start = at + separator.size();
    }
}

std::vector<Row> load_matrix() {
    std::vector<Row> rows;
    std::ifstream in(kMatrixPath);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields = split(line, "\t");
        Row row;
        row.line = number;
        if (fields.size() == 8 || fields.size() == 9) {
            row.call = fields[0];
            row.target = fields[1];
            row.occurrence = fields[2];
            row.error = fields[3];
            row.status = std::atoi(fields[4].c_str());
            row.display = fields[5];
            row.best = fields[6];
            row.stderr_lines = fields[7];
            if (fields.size() == 9)
                row.setup = fields[8];
        }
        rows.push_back(row);
    }
    return rows;
}

int error_number(const std::string& name) {
    static const std::map<std::string, int> numbers = {
        {"ENOENT", ENOENT}, {"EACCES", EACCES},       {"EPERM", EPERM},         {"EIO", EIO},
        {"ENOSPC", ENOSPC}, {"EROFS", EROFS},         {"EINVAL", EINVAL},       {"ENOMEM", ENOMEM},
        {"EAGAIN", EAGAIN}, {"EREMOTEIO", EREMOTEIO}, {"ETIMEDOUT", ETIMEDOUT}, {"EINTR", EINTR},
        {"ENODEV", ENODEV}, {"EMFILE", EMFILE},       {"EDEADLK", EDEADLK},     {"EXDEV", EXDEV},
        {"EBUSY", EBUSY},
    };
    auto found = numbers.find(name);
    return found == numbers.end() ? -1 : found->second;
}

// The reference run, recorded once per test process.
struct Reference {
    GameResult result;
    std::vector<CallLine> calls;
    // (call, target) -> indexes into calls, in order.
    std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> sites;
};

// The reference run, recorded once per test process and high-score setup.
const Reference& reference(const std::string& setup = "-") {
    // Plain pointers, kept reachable to the end of the process.
    static auto* recorded = new std::map<std::string, Reference*>;
    Reference*& r = (*recorded)[setup];
    if (r == nullptr) {
        r = new Reference;
        ScriptOptions options;
        EXPECT_TRUE(save_setup(setup, &options.setup)) << setup;
        r->result = run_game(scripted_game(options));
        r->calls = parse_calls(r->result.trace("calls.txt"));
        for (std::size_t i = 0; i < r->calls.size(); ++i)
            r->sites[{r->calls[i].call, r->calls[i].target}].push_back(i);
    }
    return *r;
}

// The index into the reference calls that a row fails, or -1.
long resolve(const Reference& ref, const Row& row) {
    auto found = ref.sites.find({row.call, row.target});
    if (found == ref.sites.end())
        return -1;
    const std::vector<std::size_t>& seen = found->second;
    long n = 0;
    if (row.occurrence == "first") {
        n = 1;
    } else if (row.occurrence == "middle") {
        n = static_cast<long>(seen.size() + 1) / 2;
    } else if (row.occurrence == "last") {
        n = static_cast<long>(seen.size());
    } else {
        n = std::atol(row.occurrence.c_str());
    }
    if (n < 1 || n > static_cast<long>(seen.size()))
        return -1;
    return static_cast<long>(seen[static_cast<std::size_t>(n - 1)]);
}

TEST(FaultMatrix, ReferenceRunPlaysToANewBestAndEndsByTheHold) {
    const Reference& ref = reference();
    ASSERT_EQ(ref.result.status, 0) << ref.result.stderr_text;
    EXPECT_GT(pilot_value(ref.result, "best"), kOldBest);
    EXPECT_GT(pilot_value(ref.result, "hold_ms"), 0) << "the PLAY hold ended the run";
    EXPECT_EQ(ref.result.sandbox_file(kHighScorePath),
              std::to_string(pilot_value(ref.result, "best")) + "\n");
    EXPECT_GT(ref.calls.size(), 1000u);
}

TEST(FaultMatrix, EveryCallOfTheReferenceRunHasItsRows) {
    const Reference& ref = reference();
    const std::vector<Row> rows = load_matrix();
    ASSERT_FALSE(rows.empty()) << kMatrixPath;
    std::map<std::pair<std::string, std::string>, std::set<long>> covered;
    // The rows of the other setups, by setup: the indexes they fail.
    std::map<std::string, std::set<long>> covered_in_setup;
    for (const Row& row : rows) {
        SCOPED_TRACE("fault_matrix.tsv line " + std::to_string(row.line));
        ASSERT_FALSE(row.call.empty()) << "a row needs eight or nine columns";
        emu::Call kind;
        EXPECT_TRUE(call_kind(row.call, &kind)) << row.call;
        EXPECT_GT(error_number(row.error), 0) << row.error;
        std::function<void()> setup;
        ASSERT_TRUE(save_setup(row.setup, &setup)) << row.setup;
        long index = resolve(reference(row.setup), row);
        EXPECT_GE(index, 0) << row.call << " " << row.target << " " << row.occurrence
                            << " is not in the reference run of setup " << row.setup;
        if (index >= 0 && row.setup == "-")
            covered[{row.call, row.target}].insert(index);
        if (index >= 0 && row.setup != "-")
            covered_in_setup[row.setup].insert(index);
    }
    // Under each other setup, every step of the save has a row.
    for (const auto& [setup, indexes] : covered_in_setup) {
        const Reference& other = reference(setup);
        ASSERT_EQ(other.result.status, 0) << setup << ": " << other.result.stderr_text;
        for (std::size_t index : save_calls(other.calls)) {
            const CallLine& call = other.calls[index];
            if (call.result < 0)
                continue;  // failed by the setup itself
            EXPECT_EQ(indexes.count(static_cast<long>(index)), 1u)
                << setup << ": " << call.call << " " << call.target << " has no row";
        }
    }
    for (const auto& [site, indexes] : ref.sites) {
        SCOPED_TRACE(site.first + " " + site.second);
        auto found = covered.find(site);
        ASSERT_NE(found, covered.end()) << "a call of the reference run without a row";
        if (indexes.size() <= static_cast<std::size_t>(kEveryOccurrenceUpTo)) {
            for (std::size_t i = 0; i < indexes.size(); ++i) {
                EXPECT_EQ(found->second.count(static_cast<long>(indexes[i])), 1u)
                    << "occurrence " << i + 1 << " has no row";
            }
        } else {
            EXPECT_GE(found->second.size(), 3u) << "first, middle and last";
        }
    }
}

std::string expand(const std::string& token) {
    if (token == "MODE")
        return "mode: LT8668 B7=0x01 AD=0x02 AC=0x01";
    if (token == "FB0")
        return "fb0: stride=7680 smem=24883200 yres=1080 yvirt=2160 yoff=0";
    return token;
}

void check_stderr(const std::string& written, const std::string& expected) {
    std::vector<std::string> want = split(expected, " | ");
    std::vector<std::string> got = split(written, "\n");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "") << "every line ends with a newline";
    got.pop_back();
    ASSERT_EQ(got.size(), want.size()) << written;
    // "vmxbrikon: exit after N ms" with any whole number N.
    auto is_exit_line = [](const std::string& line) {
        const std::string head = "vmxbrikon: exit after ";
        const std::string tail = " ms";
        if (line.size() <= head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
            line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
            return false;
        }
        const std::string number =
            line.substr(head.size(), line.size() - head.size() - tail.size());
        return number.find_first_not_of("0123456789") == std::string::npos;
    };
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i] == "EXIT") {
            EXPECT_TRUE(is_exit_line(got[i])) << got[i];
        } else {
            EXPECT_EQ(got[i], expand(want[i]));
        }
    }
}

void check_display(const GameResult& result, const std::vector<CallLine>& calls,
                   const std::string& display) {
    std::vector<PanLine> pans = result.pans();
    if (display == "untouched") {
        EXPECT_TRUE(pans.empty()) << pans.size() << " pans";
        return;
    }
    bool moved = false;
    for (const PanLine& pan : pans)
        moved = moved || (pan.result == 0 && pan.yoffset != 0);
    ASSERT_TRUE(moved) << "the game never showed a page";
    if (display == "restored") {
        EXPECT_EQ(pans.back().yoffset, 0u) << "the last pan goes back to line 0";
        EXPECT_EQ(pans.back().result, 0);
        return;
    }
    // The refused pan back never reached the device: the display stays on a
    // game page, and the last pan request the game made was the one to 0.
    ASSERT_EQ(display, "restore_failed");
    EXPECT_NE(pans.back().yoffset, 0u);
    const CallLine* last_pan = nullptr;
    for (const CallLine& call : calls) {
        if (call.target == "/dev/fb0#0x4606")
            last_pan = &call;
    }
    ASSERT_NE(last_pan, nullptr);
    EXPECT_LT(last_pan->result, 0);
}

// The file holds the old best or the new one whole, as the row says.
void check_best(const GameResult& result, const std::string& best, const std::string& setup) {
    const std::string stored = result.sandbox_file(kHighScorePath);
    const std::string old_text = old_best_text(setup);
    if (best == "old") {
        EXPECT_TRUE(holds_line(stored, old_text, old_text))
            << "stored: " << testing::PrintToString(stored);
        return;
    }
    ASSERT_EQ(best, "new");
    long long game_best = pilot_value(result, "best");
    EXPECT_GT(game_best, kOldBest);
    EXPECT_TRUE(holds_line(stored, std::to_string(game_best) + "\n", old_text))
        << "stored: " << testing::PrintToString(stored);
}

// What must hold after every row: the sound thread joined whenever it ran,
// and the framebuffer closed whenever start-up gave up after opening it.
void check_calls(const std::vector<CallLine>& calls, int status) {
    bool started = false;
    bool joined = false;
    bool fb_open = false;
    for (const CallLine& call : calls) {
        if (call.call == "thread_start" && call.result == 0)
            started = true;
        if (call.call == "thread_join" && started)
            joined = true;
        if (call.call == "open" && call.target == "/dev/fb0" && call.result >= 0)
            fb_open = true;
        if (call.call == "close" && call.target == "/dev/fb0")
            fb_open = false;
    }
    EXPECT_EQ(joined, started) << "the sound thread is joined whenever it started";
    if (status == 1) {
        EXPECT_FALSE(fb_open) << "the framebuffer descriptor is closed";
    }
}

class FaultMatrixRows : public testing::TestWithParam<std::string> {};

TEST_P(FaultMatrixRows, EachFailureEndsAsItsRowSays) {
    SKIP_SWEEP_UNDER_THREAD_SANITIZER();
    int count = 0;
    for (const Row& row : load_matrix()) {
        if (row.call != GetParam())
            continue;
        count += 1;
        SCOPED_TRACE("fault_matrix.tsv line " + std::to_string(row.line) + ": " + row.call + " " +
                     row.target + " " + row.occurrence + " " + row.error + " " + row.setup);
        const Reference& ref = reference(row.setup);
        ASSERT_EQ(ref.result.status, 0);
        std::function<void()> setup;
        ASSERT_TRUE(save_setup(row.setup, &setup));
        long index = resolve(ref, row);
        ASSERT_GE(index, 0);
        const CallLine& line = ref.calls[static_cast<std::size_t>(index)];
        emu::Fault fault;
        ASSERT_TRUE(call_kind(row.call, &fault.call)) << row.call;
        fault.occurrence = fault_occurrence(ref.calls, static_cast<std::size_t>(index));
        fault.action = emu::Action::Fail;
        fault.value = error_number(row.error);
        // The target lives in the reference, which the child inherits.
        const char* target = fault_target(line);
        ScriptOptions options;
        options.setup = [fault, target, setup]() mutable {
            setup();
            fault.target = target;
            emu::add_fault(fault);
        };
        GameResult result = run_game(scripted_game(options));
        ASSERT_FALSE(result.timed_out);
        ASSERT_EQ(result.signal, 0);
        EXPECT_EQ(result.status, row.status) << result.stderr_text;
        std::vector<CallLine> calls = parse_calls(result.trace("calls.txt"));
        // The fault came: one more call of this kind and target failed with
        // its error than in the reference run. (Calls are logged when they
        // return, so a sleep's place in the log is its wake-up's.)
        auto failures = [&](const std::vector<CallLine>& log) {
            int n = 0;
            for (const CallLine& call : log) {
                if (call.call == line.call && call.target == line.target && call.result != 0 &&
                    call.error == fault.value) {
                    n += 1;
                }
            }
            return n;
        };
        EXPECT_EQ(failures(calls), failures(ref.calls) + 1) << "the call did not fail";
        check_stderr(result.stderr_text, row.stderr_lines);
        check_display(result, calls, row.display);
        check_best(result, row.best, row.setup);
        EXPECT_FALSE(buzzer_end(result).sounding) << "the buzzer is left sounding";
        check_calls(calls, row.status);
    }
    EXPECT_GT(count, 0);
}

std::vector<std::string> matrix_calls() {
    std::set<std::string> kinds;
    for (const Row& row : load_matrix()) {
        if (!row.call.empty())
            kinds.insert(row.call);
    }
    return {kinds.begin(), kinds.end()};
}

INSTANTIATE_TEST_SUITE_P(Calls, FaultMatrixRows, testing::ValuesIn(matrix_calls()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
