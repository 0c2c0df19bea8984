#include "game/high_score.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/os.h"

namespace {

constexpr bool starts_with(const char* text, const char* prefix) {
    while (*prefix != 0) {
        if (*text++ != *prefix++)
            return false;
    }
    return true;
}
static_assert(starts_with(kHighScorePath, kHighScoreDir) &&
                  starts_with(kHighScoreTempPath, kHighScorePath),
              "the temporary file must live beside the high-score file");

constexpr int kFileMode = 0644;

bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one number the way "%d" does, without its undefined behaviour: a
// value beyond an int is no number. The file is read only as far as the
// number goes.
bool read_number(std::FILE* file, int* value) {
    int c = std::getc(file);
    while (is_blank(c))
        c = std::getc(file);
    bool negative = c == '-';
    if (c == '-' || c == '+')
        c = std::getc(file);
    if (c < '0' || c > '9')
        return false;

    // The magnitude is gathered as a non-negative 64-bit value and stops
    // counting once it can no longer fit, so even a huge run of digits is
    // read in constant memory and never overflows.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; c >= '0' && c <= '9'; c = std::getc(file)) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return false;
    }
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

bool write_all(int fd, const char* text, int length) {
    while (length > 0) {
        long done = os::write(fd, text, static_cast<std::size_t>(length));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        text += done;
        length -= static_cast<int>(done);
    }
    return true;
}

// Writes, flushes to the disk and closes; false if any of it failed.
bool write_and_close(int fd, const char* text, int length) {
    bool written = write_all(fd, text, length) && os::fsync(fd) == 0;
    bool closed = os::close(fd) == 0;
    return written && closed;
}

// Makes the rename itself survive a power cut.
void sync_folder() {
    int fd = os::open(kHighScoreDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    os::fsync(fd);
    os::close(fd);
}

}  // namespace

int load_high_score() {
    int best = 0;
    std::FILE* file = os::fopen(kHighScorePath, "r");
    if (file == nullptr)
        return 0;
    if (!read_number(file, &best))
        best = 0;
    std::fclose(file);
    return best;
}

void save_high_score(int best) {
    char text[16];
    int length = std::snprintf(text, sizeof text, "%d\n", best);

    int fd = os::open(kHighScoreTempPath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                      kFileMode);
    if (fd >= 0) {
        if (write_and_close(fd, text, length) &&
            os::rename(kHighScoreTempPath, kHighScorePath) == 0) {
            sync_folder();
        }
        // Otherwise the old file was never touched; the best stays in memory.
        return;
    }

    // A folder that refuses new files may still hold a writable old file:
    // then it is rewritten in place, as the only way left to keep the best.
    // It is not truncated first: a kill or power cut between the open and the
    // write would leave it empty. The new line goes over the start of the old
    // text instead; a shorter line leaves the rest of the old text after its
    // newline, where the reader never looks. A link in the file's place is
    // not followed, so the game never writes anywhere but its own file.
    if (errno != EACCES && errno != EPERM)
        return;
    fd = os::open(kHighScorePath, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    write_and_close(fd, text, length);
}
