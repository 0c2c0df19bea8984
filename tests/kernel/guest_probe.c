// The instruments of the ARM machine that tests/kernel/run boots: it works
// the goggles' framebuffer, buttons and buzzer from the outside while the game
// runs, and reports what it saw. Built static for ARM, run inside the guest.
//
//   guest_probe vyres LINES           set the framebuffer's virtual height
//   guest_probe pan MS                sample the pan offset every MS ms until
//                                     SIGTERM; print a summary
//   guest_probe page                  read the page on display back from
//                                     /dev/fb0; print its line and how much of
//                                     the drawing area shows the background
//   guest_probe button MV             put a sample of MV millivolts on the
//                                     ADC (0: no button)
//   guest_probe lose LOG SECONDS      play to lose: launch every ball and keep
//                                     the paddle out of its way, watching the
//                                     page on display, until the buzzer log
//                                     LOG shows the game-over tone (status 0)
//                                     or SECONDS pass (status 1)
//   guest_probe pwm DIR               log every value written into the PWM
//                                     channel's files in DIR until SIGTERM
//   guest_probe converter MODE        serve /dev/remote_i2c (CUSE) as the
//                                     goggles' HDMI converter in video mode
//                                     MODE (1 normal, 2 HDMI) until SIGTERM
//   guest_probe watch DIR NAME        print "vmx-mark" and the event on the
//                                     console the moment the file NAME in DIR
//                                     is made, written, cut or renamed into
//                                     place, each time, until SIGTERM
//   guest_probe best PATH             read the best score from PATH the way
//                                     the game does ("%d"); print "best N",
//                                     or "best none"
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/fuse.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

enum {
    kStride = 7680,
    kAreaWidth = 1280,
    kAreaHeight = 720,
    kBackground = 0xff05070e,
};

// The ADC's page and the offset of its sample register; 1020 counts
// are 1800 mV.
static const off_t kSampleAddress = 0x60632000 + 0x810;
static const unsigned kFullScaleCounts = 1020;
static const unsigned kFullScaleMv = 1800;

static volatile sig_atomic_t stopping = 0;

static void on_term(int signal_number) {
    (void)signal_number;
    stopping = 1;
}

static void stop_on_term(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_term;  // no SA_RESTART: a blocked read returns
    sigaction(SIGTERM, &action, NULL);
}

static long long now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static int fail(const char* what) {
    fprintf(stderr, "guest_probe: %s: %s\n", what, strerror(errno));
    return 1;
}

static int open_fb(struct fb_var_screeninfo* var) {
    int fd = open("/dev/fb0", O_RDWR);
    if (fd < 0 || ioctl(fd, FBIOGET_VSCREENINFO, var) != 0)
        return -1;
    return fd;
}

// Row y of the drawing area on the page at line page, read through the
// device; false when it cannot be read whole.
static int read_row(int fd, unsigned page, int y, uint32_t* row) {
    off_t at = (off_t)(page + (unsigned)y) * kStride;
    return pread(fd, row, kAreaWidth * sizeof *row, at) == (ssize_t)(kAreaWidth * sizeof *row);
}

static int set_virtual_height(unsigned lines) {
    struct fb_var_screeninfo var;
    int fd = open_fb(&var);
    if (fd < 0)
        return fail("/dev/fb0");
    var.yres_virtual = lines;
    var.yoffset = 0;
    if (ioctl(fd, FBIOPUT_VSCREENINFO, &var) != 0)
        return fail("FBIOPUT_VSCREENINFO");
    close(fd);
    return 0;
}

// Counts the pan offsets seen and the changes between them, so that the run
// can tell how often the pages flipped and whether the display ever showed
// anything but the three pages.
static int sample_pan(unsigned interval_ms) {
    struct fb_var_screeninfo var;
    int fd = open_fb(&var);
    if (fd < 0)
        return fail("/dev/fb0");
    stop_on_term();
    long samples = 0, at0 = 0, at1080 = 0, at2160 = 0, other = 0, flips = 0;
    long long first_flip = -1, last_flip = -1;
    unsigned last = var.yoffset;
    struct timespec pause = {0, (long)interval_ms * 1000000L};
    while (!stopping) {
        if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0)
            return fail("FBIOGET_VSCREENINFO");
        ++samples;
        switch (var.yoffset) {
            case 0:
                ++at0;
                break;
            case 1080:
                ++at1080;
                break;
            case 2160:
                ++at2160;
                break;
            default:
                ++other;
                break;
        }
        // A flip is a move between the two drawing pages.
        if (var.yoffset != last && var.yoffset != 0 && last != 0) {
            ++flips;
            last_flip = now_ms();
            if (first_flip < 0)
                first_flip = last_flip;
        }
        last = var.yoffset;
        nanosleep(&pause, NULL);
    }
    long long span = last_flip - first_flip;
    printf(
        "samples=%ld at0=%ld at1080=%ld at2160=%ld other=%ld flips=%ld flips_per_s=%lld last=%u\n",
        samples, at0, at1080, at2160, other, flips, span > 0 ? (flips - 1) * 1000 / span : 0, last);
    close(fd);
    return 0;
}

// The page on display, read back through the device rather than a mapping,
// the way anything else on the goggles would see it.
static int read_page(void) {
    struct fb_var_screeninfo var;
    int fd = open_fb(&var);
    if (fd < 0)
        return fail("/dev/fb0");
    static uint32_t row[kAreaWidth];
    long background = 0, drawn = 0;
    for (int y = 0; y < kAreaHeight; ++y) {
        if (!read_row(fd, var.yoffset, y, row))
            return fail("pread /dev/fb0");
        for (int x = 0; x < kAreaWidth; ++x) {
            if (row[x] == kBackground)
                ++background;
            else if (row[x] != 0)
                ++drawn;
        }
    }
    printf("line=%u background_permille=%ld drawn_permille=%ld\n", var.yoffset,
           background * 1000 / (kAreaWidth * kAreaHeight),
           drawn * 1000 / (kAreaWidth * kAreaHeight));
    close(fd);
    return 0;
}

// The nearest count to the voltage, as the ADC would give it.
static int put_button(unsigned mv) {
    uint32_t counts = (mv * kFullScaleCounts + kFullScaleMv / 2) / kFullScaleMv;
    int fd = open("/dev/mem", O_RDWR);
    if (fd < 0)
        return fail("/dev/mem");
    if (pwrite(fd, &counts, sizeof counts, kSampleAddress) != (ssize_t)sizeof counts)
        return fail("pwrite /dev/mem");
    close(fd);
    return 0;
}

// Losing on purpose, by sight: the lowest ball and the paddle are found on
// the page on display, and the paddle is moved out from under the ball. A
// player that only pressed buttons blindly could keep a ball alive for
// minutes, caught over and over at the wall where the paddle waits.
enum {
    kWallLeft = 146,
    kWallRight = 1134,
    kCeiling = 76,
    kPaddleRow = 648,       // through the paddle's middle, below any ball
    kLowestBallRow = 625,   // above a ball waiting on the paddle
    kWaitingBallRow = 631,  // through a ball waiting on the paddle
    kTitleRow = 300,        // through the title's name, and through GAME OVER
    kBoxLeft = 380,         // the game-over box, across the playfield's middle
    kBoxRight = 900,
    kBallCore = 6,  // a ball shows at least this square of white
    kMargin = 40,   // how far beyond its end the paddle keeps a ball
    kWhite = 0xffffffff,
    kPaddleTeal = 0xff37e8d8,
    kTitleYellow = 0xffffe81f,
    kGameOverRed = 0xffe85050,
    kLeftMv = 1000,
    kRightMv = 1200,
    kMiddleMv = 800,
};

// The left end of a run of kBallCore white pixels in the row, or -1.
static int white_run(const uint32_t* row) {
    int run = 0;
    for (int x = kWallLeft; x < kWallRight; ++x) {
        run = row[x] == kWhite ? run + 1 : 0;
        if (run == kBallCore)
            return x - kBallCore + 1;
    }
    return -1;
}

// The centre x of the lowest ball in play, or -1 when none is in the air.
// Every third row is looked at, from the bottom up; a white run there is a
// ball when the rows around it continue the square.
static int lowest_ball(int fd, unsigned page) {
    static uint32_t row[kAreaWidth];
    for (int y = kLowestBallRow; y > kCeiling; y -= 3) {
        if (!read_row(fd, page, y, row))
            return -1;
        int x = white_run(row);
        if (x < 0)
            continue;
        int square = 1;
        for (int dy = -2; dy < kBallCore - 2 && square; ++dy) {
            if (!read_row(fd, page, y + dy, row))
                return -1;
            for (int dx = 0; dx < kBallCore; ++dx)
                square = square && row[x + dx] == kWhite;
        }
        if (square)
            return x + kBallCore / 2;
    }
    return -1;
}

static int log_shows(const char* path, const char* line) {
    static char text[1 << 16];
    FILE* log = fopen(path, "r");
    if (log == NULL)
        return 0;
    int found = 0;
    while (!found && fgets(text, sizeof text, log) != NULL)
        found = strstr(text, line) != NULL;
    fclose(log);
    return found;
}

// A short MIDDLE press, then as long released, so that each is a fresh press;
// *since is when the current press began, -1 between them.
static unsigned tap(long long now, long long* since) {
    if (*since < 0)
        *since = now;
    unsigned want = now - *since < 300 ? kMiddleMv : 0;
    if (now - *since > 600)
        *since = -1;
    return want;
}

// What the player saw, for a run that never ended: how often it saw each
// screen, and the page on display as a coarse map ('o' white, '=' paddle,
// '+' anything else drawn).
static void report_lost_game(int fd, unsigned page, const long counts[4]) {
    fprintf(stderr, "guest_probe: seen: title %ld, ball waiting %ld, ball in play %ld, other %ld\n",
            counts[0], counts[1], counts[2], counts[3]);
    static uint32_t row[kAreaWidth];
    for (int y = 0; y < kAreaHeight; y += 24) {
        char map[kAreaWidth / 16 + 1];
        if (!read_row(fd, page, y + 12, row))
            return;
        for (int cell = 0; cell < kAreaWidth / 16; ++cell) {
            char seen = ' ';
            for (int x = cell * 16; x < cell * 16 + 16; ++x) {
                if (row[x] == kWhite)
                    seen = 'o';
                else if (row[x] == kPaddleTeal && seen != 'o')
                    seen = '=';
                else if (row[x] != kBackground && seen == ' ')
                    seen = '+';
            }
            map[cell] = seen;
        }
        map[kAreaWidth / 16] = '\0';
        fprintf(stderr, "|%s|\n", map);
    }
}

static int play_to_lose(const char* log, int seconds) {
    struct fb_var_screeninfo var;
    int fd = open_fb(&var);
    if (fd < 0)
        return fail("/dev/fb0");
    static uint32_t row[kAreaWidth];
    long long until = now_ms() + (long long)seconds * 1000;
    unsigned held = 0;
    long long since = -1;
    long counts[4] = {0, 0, 0, 0};
    struct timespec pause = {0, 20 * 1000000L};
    while (!log_shows(log, " period 5555555\n")) {
        long long now = now_ms();
        if (now > until) {
            put_button(0);
            fprintf(stderr, "guest_probe: no game over within %d s\n", seconds);
            report_lost_game(fd, var.yoffset, counts);
            return 1;
        }
        if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0)
            return fail("/dev/fb0");
        // The buzzer log can miss a tone written right after another, so the
        // game over counts as well when its title is on screen.
        if (!read_row(fd, var.yoffset, kTitleRow, row))
            return fail("/dev/fb0");
        int red = 0;
        for (int x = kBoxLeft; x < kBoxRight; ++x)
            red += row[x] == kGameOverRed;
        if (red > 0) {
            printf("guest_probe: game over on screen\n");
            break;
        }
        if (!read_row(fd, var.yoffset, kPaddleRow, row))
            return fail("/dev/fb0");
        int left = -1, right = -1;
        for (int x = kWallLeft; x < kWallRight; ++x) {
            if (row[x] == kPaddleTeal) {
                if (left < 0)
                    left = x;
                right = x;
            }
        }
        unsigned want = 0;
        int ball = left >= 0 ? lowest_ball(fd, var.yoffset) : -1;
        if (left < 0) {
            // No paddle: the title (its name in yellow) wants a press to
            // start; any other screen is left alone.
            if (!read_row(fd, var.yoffset, kTitleRow, row))
                return fail("/dev/fb0");
            int yellow = 0;
            for (int x = 0; x < kAreaWidth; ++x)
                yellow += row[x] == kTitleYellow;
            if (yellow > 0) {
                ++counts[0];
                want = tap(now, &since);
            } else {
                ++counts[3];
            }
        } else if (ball < 0) {
            if (!read_row(fd, var.yoffset, kWaitingBallRow, row))
                return fail("/dev/fb0");
            int waiting = white_run(row);
            if (waiting >= left && waiting <= right) {
                // A ball waits on the paddle: launch it.
                ++counts[1];
                want = tap(now, &since);
            } else {
                ++counts[3];
            }
        } else {
            ++counts[2];
            since = -1;
            int centre = (left + right) / 2, reach = (right - left) / 2 + kMargin;
            if (ball > centre - reach && ball < centre + reach) {
                // Away from the ball, unless the paddle already stands at
                // that wall: then past the ball the other way.
                int go_left = ball > centre;
                if (go_left && left <= kWallLeft + 8)
                    go_left = 0;
                else if (!go_left && right >= kWallRight - 8)
                    go_left = 1;
                want = go_left ? kLeftMv : kRightMv;
            }
        }
        if (want != held && put_button(want) != 0)
            return 1;
        held = want;
        nanosleep(&pause, NULL);
    }
    put_button(0);
    close(fd);
    return 0;
}

// The game writes each value through a fresh open without truncating; the
// file is emptied after each read so that a shorter number never shows the
// tail of a longer one.
static int log_pwm(const char* dir) {
    int watch = inotify_init();
    if (watch < 0 || inotify_add_watch(watch, dir, IN_CLOSE_WRITE) < 0)
        return fail("inotify");
    stop_on_term();
    long long start = now_ms();
    char events[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    while (!stopping) {
        ssize_t length = read(watch, events, sizeof events);
        if (length <= 0)
            continue;
        for (char* at = events; at < events + length;) {
            const struct inotify_event* event = (const struct inotify_event*)at;
            at += sizeof *event + event->len;
            if (event->len == 0)
                continue;
            char path[256], value[64];
            snprintf(path, sizeof path, "%s/%s", dir, event->name);
            int fd = open(path, O_RDWR);
            if (fd < 0)
                continue;
            ssize_t got = read(fd, value, sizeof value - 1);
            if (ftruncate(fd, 0) != 0)
                return fail("ftruncate");
            close(fd);
            if (got <= 0)
                continue;
            value[got] = '\0';
            value[strcspn(value, "\n")] = '\0';
            printf("%lld %s %s\n", now_ms() - start, event->name, value);
            fflush(stdout);
        }
    }
    return 0;
}

// Marks on the console the moment the high-score file changes, for the
// host, which cuts the machine's power a set time after the first mark. The
// console is written directly, unbuffered, so that the mark leaves the
// machine as soon as the kernel has the event.
static int watch_file(const char* dir, const char* name) {
    int watch = inotify_init();
    const uint32_t events_wanted = IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_CLOSE_WRITE;
    if (watch < 0 || inotify_add_watch(watch, dir, events_wanted) < 0)
        return fail("inotify");
    int console = open("/dev/console", O_WRONLY);
    if (console < 0)
        return fail("/dev/console");
    stop_on_term();
    char events[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    while (!stopping) {
        ssize_t length = read(watch, events, sizeof events);
        for (char* at = events; length > 0 && at < events + length;) {
            const struct inotify_event* event = (const struct inotify_event*)at;
            at += sizeof *event + event->len;
            if (event->len == 0 || strcmp(event->name, name) != 0)
                continue;
            const char* kind = (event->mask & IN_CREATE)     ? "create"
                               : (event->mask & IN_MODIFY)   ? "modify"
                               : (event->mask & IN_MOVED_TO) ? "moved_to"
                                                             : "close_write";
            char line[128];
            int n = snprintf(line, sizeof line, "vmx-mark %s %s\n", kind, name);
            if (write(console, line, (size_t)n) != n)
                return fail("/dev/console");
        }
    }
    return 0;
}

// The game's own reading of the file: one number as "%d" finds it.
static int read_best(const char* path) {
    FILE* file = fopen(path, "r");
    int best = 0;
    if (file == NULL || fscanf(file, "%d", &best) != 1)
        printf("best none\n");
    else
        printf("best %d\n", best);
    if (file != NULL)
        fclose(file);
    return 0;
}

// The HDMI converter behind the goggles' I2C transport, served from user space
// through CUSE. A transfer's header arrives with the ioctl; its payload lives
// in the caller's memory and is read and written there directly.
enum {
    kTransportRequest = 0xC00C4110,
    kSelect = 1,
    kWrite = 2,
    kWriteRead = 3,
    kChipAddress = 0x43,
    kModeRegister = 0xB7,
    kBankRegister = 0xFF,
    kModeBank = 0xE0,
};

struct transport_header {
    uint32_t operation;
    uint32_t length;
    uint32_t payload;
};

static uint32_t word_at(const uint8_t* payload, int index) {
    uint32_t word;
    memcpy(&word, payload + 4 * index, sizeof word);
    return word;
}

static int reply(int cuse, uint64_t unique, int error, const void* body, size_t length) {
    struct fuse_out_header out = {(uint32_t)(sizeof out + length), -error, unique};
    struct iovec parts[2] = {{&out, sizeof out}, {(void*)body, length}};
    return writev(cuse, parts, body != NULL ? 2 : 1) < 0 ? -1 : 0;
}

// One transfer: 0 when the chip answered, an errno when not.
static int transfer(pid_t caller, const struct transport_header* header, int mode, int* bank) {
    uint8_t payload[256];
    if (header->length < 12 || header->length > sizeof payload)
        return EINVAL;
    struct iovec local = {payload, header->length};
    struct iovec remote = {(void*)(uintptr_t)header->payload, header->length};
    if (process_vm_readv(caller, &local, 1, &remote, 1, 0) != (ssize_t)header->length)
        return EFAULT;
    switch (header->operation) {
        case kSelect:
            return header->length == 16 && word_at(payload, 2) == kChipAddress ? 0 : ENXIO;
        case kWrite:
            if (word_at(payload, 1) != kChipAddress || word_at(payload, 2) != 2 ||
                header->length < 14)
                return ENXIO;
            if (payload[12] == kBankRegister)
                *bank = payload[13];
            return 0;
        case kWriteRead: {
            uint32_t sent = word_at(payload, 2), wanted = word_at(payload, 3);
            if (word_at(payload, 1) != kChipAddress || sent != 1 || wanted != 1 ||
                header->length < 18)
                return ENXIO;
            // The mode bank answers the mode register; everything else reads 0.
            payload[17] = (*bank == kModeBank && payload[16] == kModeRegister) ? (uint8_t)mode : 0;
            if (process_vm_writev(caller, &local, 1, &remote, 1, 0) != (ssize_t)header->length)
                return EFAULT;
            return 0;
        }
        default:
            return EINVAL;
    }
}

static int serve_converter(int mode) {
    int cuse = open("/dev/cuse", O_RDWR);
    if (cuse < 0)
        return fail("/dev/cuse");
    stop_on_term();
    static uint8_t request[8192 + 4096];
    int bank = 0;
    while (!stopping) {
        ssize_t length = read(cuse, request, sizeof request);
        if (length < (ssize_t)sizeof(struct fuse_in_header))
            continue;
        const struct fuse_in_header* in = (const struct fuse_in_header*)request;
        const void* body = request + sizeof *in;
        switch (in->opcode) {
            case CUSE_INIT: {
                struct {
                    struct cuse_init_out init;
                    char info[32];
                } out;
                memset(&out, 0, sizeof out);
                out.init.major = FUSE_KERNEL_VERSION;
                out.init.minor = FUSE_KERNEL_MINOR_VERSION;
                out.init.max_read = 4096;
                out.init.max_write = 4096;
                static const char kInfo[] = "DEVNAME=remote_i2c";
                memcpy(out.info, kInfo, sizeof kInfo);
                reply(cuse, in->unique, 0, &out, sizeof out.init + sizeof kInfo);
                break;
            }
            case FUSE_OPEN: {
                struct fuse_open_out out;
                memset(&out, 0, sizeof out);
                reply(cuse, in->unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_RELEASE:
                reply(cuse, in->unique, 0, NULL, 0);
                break;
            case FUSE_IOCTL: {
                const struct fuse_ioctl_in* call = body;
                struct {
                    struct fuse_ioctl_out result;
                    struct transport_header header;
                } out;
                memset(&out, 0, sizeof out);
                if (call->cmd != kTransportRequest || call->in_size != sizeof out.header) {
                    reply(cuse, in->unique, ENOTTY, NULL, 0);
                    break;
                }
                memcpy(&out.header, call + 1, sizeof out.header);
                int error = transfer((pid_t)in->pid, &out.header, mode, &bank);
                if (error != 0)
                    reply(cuse, in->unique, error, NULL, 0);
                else
                    reply(cuse, in->unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_INTERRUPT:
                break;  // never answered
            default:
                reply(cuse, in->unique, ENOSYS, NULL, 0);
                break;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "vyres") == 0)
        return set_virtual_height((unsigned)atoi(argv[2]));
    if (argc == 3 && strcmp(argv[1], "pan") == 0)
        return sample_pan((unsigned)atoi(argv[2]));
    if (argc == 2 && strcmp(argv[1], "page") == 0)
        return read_page();
    if (argc == 3 && strcmp(argv[1], "button") == 0)
        return put_button((unsigned)atoi(argv[2]));
    if (argc == 4 && strcmp(argv[1], "lose") == 0)
        return play_to_lose(argv[2], atoi(argv[3]));
    if (argc == 3 && strcmp(argv[1], "pwm") == 0)
        return log_pwm(argv[2]);
    if (argc == 3 && strcmp(argv[1], "converter") == 0)
        return serve_converter(atoi(argv[2]));
    if (argc == 4 && strcmp(argv[1], "watch") == 0)
        return watch_file(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "best") == 0)
        return read_best(argv[2]);
    fprintf(stderr,
            "usage: guest_probe vyres LINES | pan MS | page | button MV | lose LOG SECONDS | pwm "
            "DIR |\n"
            "       converter MODE | watch DIR NAME | best PATH\n");
    return 2;
}
