// The high-score file reader over any file content. The stored best is the
// first number the way "%d" finds it (blanks skipped, an optional sign,
// digits), 0 when there is none, when it does not fit an int or when it is
// negative; nothing is ever reported.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/emulator.h"
#include "fuzz_check.h"
#include "shell/high_score.h"

namespace {

std::string sandbox;
std::string stored_path;

void set_up() {
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/tmp") + "/vmxbrikon-fuzz-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr)
        std::abort();
    sandbox = folder;
    emu::reset();
    emu::set_sandbox(sandbox.c_str());
    std::string path;
    for (const char* p = kHighScoreDir; *p != 0; ++p) {
        if (*p == '/' && !path.empty())
            mkdir((sandbox + path).c_str(), 0755);
        path.push_back(*p);
    }
    mkdir((sandbox + path).c_str(), 0755);
    stored_path = sandbox + kHighScorePath;
}

// strtoll reads the same blanks, sign and digits; the text ends at the
// first NUL byte, which the game's reader also takes as "no more digits".
int reference_best(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE || value < 0 || value > INT_MAX)
        return 0;
    return static_cast<int>(value);
}

}  // namespace

int fuzz_high_score(const std::uint8_t* data, std::size_t size) {
    if (sandbox.empty())
        set_up();
    std::FILE* file = std::fopen(stored_path.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);

    FUZZ_CHECK(load_high_score() == reference_best(data, size));
    FUZZ_CHECK(emu::stderr_text()[0] == 0);
    return 0;
}

VMX_FUZZ_ENTRY(fuzz_high_score)
