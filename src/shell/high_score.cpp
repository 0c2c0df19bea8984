#include "shell/high_score.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/os.h"

namespace {

constexpr bool starts_with(const char* text, const char* prefix) {
    while (*prefix != 0) {
        if (*text++ != *prefix++)
            return false;
    }
    return true;
}
static_assert(starts_with(kHighScorePath, kHighScoreDir),
              "the high-score file must live in its folder");

// A new file gets what the owner's umask leaves of read and write for all.
constexpr unsigned kFileMode = 0666;
// Links followed from the high-score path at most, as many as the kernel
// follows in one lookup.
constexpr int kMaxLinks = 40;
constexpr std::size_t kPathCapacity = 512;

// The file a buffer at a time; next() gives one byte, or -1 at the end of
// the file or on a read error, as getc does.
class Reader {
  public:
    explicit Reader(int fd) : fd_(fd) {}
    int next() {
        if (at_ == length_) {
            long got = os::read(fd_, buffer_, sizeof buffer_);
            at_ = 0;
            length_ = got > 0 ? got : 0;
            if (got <= 0)
                return -1;
        }
        return static_cast<unsigned char>(buffer_[at_++]);
    }

  private:
    int fd_;
    char buffer_[512];
    long length_ = 0;
    long at_ = 0;
};

// Reads one number the way "%d" does, without its undefined behaviour: a
// value beyond an int is no number. The file is read only as far as the
// number goes.
bool read_number(Reader& file, int* value) {
    int c = file.next();
    // The blanks of "%d": the C locale's white space, the only locale the game has.
    while (std::isspace(c))
        c = file.next();
    bool negative = c == '-';
    if (c == '-' || c == '+')
        c = file.next();
    if (c < '0' || c > '9')
        return false;

    // The magnitude is gathered as a non-negative 64-bit value and stops
    // counting once it can no longer fit, so even a huge run of digits is
    // read in constant memory and never overflows.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; c >= '0' && c <= '9'; c = file.next()) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return false;
    }
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

bool is_regular(int fd) {
    struct stat info;
    return os::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
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

// On the disk, or on a file system that has no such flush (EINVAL), where
// written is as far as a file ever gets.
bool flushed(int fd) {
    return os::fsync(fd) == 0 || errno == EINVAL;
}

// The length of the folder part of path, without the last slash.
std::size_t folder_length(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path);
}

// Flushes the folder of path. On the goggles' FAT card this is what writes
// the allocation table, and the entry of a file just made, ahead of the
// file's own entry. A folder that cannot be opened or flushed does not stop
// the save: the file's own flush still carries everything, only in an order
// that a power cut in its midst could catch.
void sync_folder(const char* path) {
    char folder[kPathCapacity] = "/";
    std::size_t length = folder_length(path);
    if (length > 0) {
        std::memcpy(folder, path, length);
        folder[length] = 0;
    }
    int fd = os::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    os::fsync(fd);
    os::close(fd);
}

enum class Target {
    Regular,  // a regular file
    Missing,  // nothing yet: the save creates it
    Other,    // a pipe, a folder, a device: never written
    Unknown,  // could not be told (too many links, a path too long, an error)
};

// Follows links from the high-score path to the file they lead to, the way
// the kernel follows them for a plain open, and writes its path into path.
Target find_target(char (&path)[kPathCapacity]) {
    std::snprintf(path, sizeof path, "%s", kHighScorePath);
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat info;
        if (os::lstat(path, &info) != 0)
            return errno == ENOENT ? Target::Missing : Target::Unknown;
        if (S_ISREG(info.st_mode))
            return Target::Regular;
        if (!S_ISLNK(info.st_mode))
            return Target::Other;
        char link[kPathCapacity];
        long length = os::readlink(path, link, sizeof link);
        if (length <= 0 || length >= static_cast<long>(sizeof link))
            return Target::Unknown;
        // A relative link leads on from the folder that holds it.
        std::size_t kept = link[0] == '/' ? 0 : folder_length(path) + 1;
        if (kept + static_cast<std::size_t>(length) >= sizeof path)
            return Target::Unknown;
        std::memcpy(path + kept, link, static_cast<std::size_t>(length));
        path[kept + static_cast<std::size_t>(length)] = 0;
    }
    return Target::Unknown;
}

// Writes text over the start of the open file, in steps that each leave a
// whole number in it, so that a kill or a power cut at any moment finds the
// old best or the new one:
//  1. A file shorter than the new line is first lengthened with zero bytes
//     behind the old text, where the reader never looks, and the new length
//     is flushed: the folder first, so that on FAT the allocation table holds
//     any cluster taken before the file's entry names it, then the file.
//  2. The new line is written over the old one, within the space the file
//     already has, and flushed: the number changes in one write.
//  3. A file longer than the new line is cut to its length and flushed; until
//     then the old tail sits behind the newline.
// No temporary file and no rename: on FAT a renamed file's entry is written
// only with that file, seconds after the folder has freed the old file's
// cluster, and a cut in between leaves an entry pointing into free space.
void write_in_place(int fd, const char* path, const char* text, int length) {
    struct stat info;
    if (os::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return;
    if (info.st_size < length) {
        if (os::ftruncate(fd, length) != 0)
            return;
        sync_folder(path);
        if (!flushed(fd))
            return;
    }
    if (!write_all(fd, text, length) || !flushed(fd))
        return;
    if (info.st_size > length) {
        if (os::ftruncate(fd, length) == 0)
            flushed(fd);
    }
}

}  // namespace

int load_high_score() {
    // Without blocking: a pipe in the file's place would otherwise hold the
    // start-up until something wrote into it.
    int fd = os::open(kHighScorePath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int best = 0;
    if (is_regular(fd)) {
        Reader reader(fd);
        // A negative best is no best: every score would beat it, and the
        // screens would show a minus sign in its digits.
        if (!read_number(reader, &best) || best < 0)
            best = 0;
    }
    os::close(fd);
    return best;
}

void save_high_score(int best) {
    char text[16];
    int length = std::snprintf(text, sizeof text, "%d\n", best);

    char target[kPathCapacity];
    int flags = O_WRONLY | O_NONBLOCK | O_CLOEXEC;
    switch (find_target(target)) {
        case Target::Other:
            return;
        case Target::Missing:
            flags |= O_CREAT | O_EXCL;
            break;
        case Target::Regular:
            break;
        case Target::Unknown:
            // The path could not be followed link by link; a plain open still
            // follows it to a file that is there, and makes none.
            std::snprintf(target, sizeof target, "%s", kHighScorePath);
            break;
    }
    int fd = os::open(target, flags, kFileMode);
    if (fd < 0)
        return;
    write_in_place(fd, target, text, length);
    os::close(fd);
}
