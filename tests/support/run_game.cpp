#include "run_game.h"

#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "display/compositor.h"
#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"
#include "shell/startup.h"

namespace {

// Waits for the child, killing it after the timeout. Returns the wait status.
bool wait_child(pid_t child, int timeout_seconds, int* status) {
    for (int waited_ms = 0; waited_ms < timeout_seconds * 1000; waited_ms += 5) {
        pid_t done = waitpid(child, status, WNOHANG);
        if (done == child)
            return true;
        usleep(5000);
    }
    kill(child, SIGKILL);
    waitpid(child, status, 0);
    return false;
}

// Every folder a test makes lives below one root per test process, removed
// when that process exits (set VMX_KEEP_TEST_DIRS=1 to keep them for a look).
std::string& temp_root() {
    static std::string root;
    return root;
}

pid_t temp_root_owner = 0;

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

void remove_temp_root() {
    const char* keep = std::getenv("VMX_KEEP_TEST_DIRS");
    if (getpid() != temp_root_owner || (keep != nullptr && keep[0] == '1'))
        return;
    nftw(temp_root().c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string make_unique_dir(const std::string& pattern) {
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (mkdtemp(buffer.data()) == nullptr)
        std::abort();
    return buffer.data();
}

}  // namespace

std::string make_temp_dir() {
    if (temp_root().empty() || temp_root_owner != getpid()) {
        const char* base = std::getenv("TMPDIR");
        temp_root() =
            make_unique_dir(std::string(base && *base ? base : "/tmp") + "/vmxbrikon-XXXXXX");
        temp_root_owner = getpid();
        std::atexit(remove_temp_root);
    }
    return make_unique_dir(temp_root() + "/run-XXXXXX");
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string GameResult::trace(const char* name) const {
    return read_file(dir + "/trace/" + name);
}

std::string GameResult::sandbox_file(const char* game_path) const {
    return read_file(dir + "/sandbox" + game_path);
}

std::vector<PanLine> GameResult::pans() const {
    std::vector<PanLine> lines;
    std::istringstream in(trace("pans.txt"));
    PanLine line;
    while (in >> line.time_ms >> line.yoffset >> line.result)
        lines.push_back(line);
    return lines;
}

std::vector<PwmLine> GameResult::pwm_writes() const {
    std::vector<PwmLine> lines;
    std::istringstream in(trace("pwm.txt"));
    PwmLine line;
    while (in >> line.time_ms >> line.attribute >> line.value >> line.error)
        lines.push_back(line);
    return lines;
}

GameResult run_game(const GameRun& run) {
    GameResult result;
    result.dir = make_temp_dir();
    emu::make_dirs((result.dir + "/sandbox").c_str());
    emu::make_dirs((result.dir + "/trace").c_str());

    pid_t child = fork();
    if (child == 0) {
        emu::reset();
        emu::set_sandbox((result.dir + "/sandbox").c_str());
        emu::log_calls(run.log_calls);
        emu::set_trace_dir((result.dir + "/trace").c_str());
        emu::use_virtual_time(run.virtual_time);
        if (run.setup)
            run.setup();
        std::vector<const char*> argv = {"vmxbrikon"};
        for (const std::string& arg : run.args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        // The run's records, as the program's main makes them (on the heap
        // here, before the game starts).
        auto game_run = std::make_unique<RunState>();
        auto display = std::make_unique<Display>();
        std::unique_ptr<FrameCheck> check;
        if (run.check_frames_every > 0)
            check = std::make_unique<FrameCheck>(*display, run.check_frames_every);
        struct AfterPan {
            FrameCheck* check;
            const std::function<void()>& more;
        } after_pan{check.get(), run.after_frame};
        if (check != nullptr || run.after_frame) {
            emu::fb::set_pan_hook(
                [](void* context) {
                    const AfterPan& after = *static_cast<const AfterPan*>(context);
                    if (after.check != nullptr)
                        after.check->after_pan();
                    if (after.more)
                        after.more();
                },
                &after_pan);
        }
        if (run.watch)
            run.watch(*game_run);
        int status = vmx_main(static_cast<int>(argv.size()) - 1, argv.data(), *game_run, *display);
        if (run.after_game)
            run.after_game(*game_run, status);
        if (check != nullptr)
            std::ofstream(result.dir + "/trace/frames_checked.txt")
                << check->frames_checked() << "\n";
        if (check != nullptr && check->mismatches() != 0) {
            std::ofstream(result.dir + "/trace/frame_mismatches.txt")
                << check->mismatches() << "\n";
            status = kFramesDiffered;
        }
        if (display->compositor.overflowed_frames() != 0) {
            std::ofstream(result.dir + "/trace/frames_overflowed.txt")
                << display->compositor.overflowed_frames() << "\n";
            status = kFramesOverflowed;
        }
        _exit(status);
    }
    int status = 0;
    result.timed_out = !wait_child(child, run.timeout_seconds, &status);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.stderr_text = result.trace("stderr.txt");
    result.frame_mismatches = std::atoll(result.trace("frame_mismatches.txt").c_str());
    result.frames_checked = std::atoll(result.trace("frames_checked.txt").c_str());
    return result;
}

FrameCheck::FrameCheck(const Display& display, int every)
    : display_(display),
      every_(every),
      whole_(static_cast<std::size_t>(kPagePixelsPerRow) * kAreaHeight, 0) {}

void FrameCheck::after_pan() {
    if (--to_check_ > 0)
        return;
    to_check_ = every_;
    const DisplayList* list = display_.compositor.composed_from(emu::fb::shown_page());
    const std::uint32_t* page = emu::fb::displayed_area();
    if (list == nullptr || page == nullptr)
        return;  // the pan back to what was on screen before the game
    list->draw(page_canvas(whole_.data()), memo_);
    ++frames_checked_;
    for (int y = 0; y < kAreaHeight; ++y) {
        const std::uint32_t* composed = page + y * kPagePixelsPerRow;
        const std::uint32_t* whole = whole_.data() + y * kPagePixelsPerRow;
        for (int x = 0; x < kAreaWidth; ++x)
            mismatches_ += composed[x] != whole[x];
    }
}

int run_in_child(const std::function<int()>& body, int timeout_seconds) {
    pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    if (!wait_child(child, timeout_seconds, &status))
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
