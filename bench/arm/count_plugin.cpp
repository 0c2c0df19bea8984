// A plugin for user-mode QEMU that measures the frames of the armhf build
// of bench/arm/frame_count.cpp: per frame, from one pan to the next, the
// guest instructions executed by every thread and the bytes written and
// read inside the framebuffer's memory, leaving out what the program marks
// as uncounted (its stand-in for the kernel). The program marks its events
// with a system call no ARM kernel has. One line per frame:
//
//   frame <sequence> <index> <instructions> <bytes written> <bytes read>
//
// With the argument profile=<sequence>, it also counts how often each
// translated block ran in that sequence's frames and writes, at the end,
//
//   block <address> <instructions> <times run>
//   frames <count>
//
// QEMU's plugin interface (version 1) is declared here by hand, only the
// calls used: Debian's QEMU loads plugins but ships no header for them.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
using qemu_plugin_id_t = std::uint64_t;
using qemu_plugin_meminfo_t = std::uint32_t;
struct qemu_info_t;
struct qemu_plugin_tb;
struct qemu_plugin_insn;
enum qemu_plugin_cb_flags { QEMU_PLUGIN_CB_NO_REGS, QEMU_PLUGIN_CB_R_REGS, QEMU_PLUGIN_CB_RW_REGS };
enum qemu_plugin_mem_rw { QEMU_PLUGIN_MEM_R = 1, QEMU_PLUGIN_MEM_W, QEMU_PLUGIN_MEM_RW };

using tb_trans_cb = void (*)(qemu_plugin_id_t, qemu_plugin_tb*);
using exec_cb = void (*)(unsigned vcpu, void* userdata);
using mem_cb = void (*)(unsigned vcpu, qemu_plugin_meminfo_t info, std::uint64_t vaddr,
                        void* userdata);
using syscall_cb = void (*)(qemu_plugin_id_t, unsigned vcpu, std::int64_t number, std::uint64_t a1,
                            std::uint64_t a2, std::uint64_t a3, std::uint64_t a4, std::uint64_t a5,
                            std::uint64_t a6, std::uint64_t a7, std::uint64_t a8);
using exit_cb = void (*)(qemu_plugin_id_t, void*);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, tb_trans_cb cb);
std::size_t qemu_plugin_tb_n_insns(const qemu_plugin_tb* tb);
std::uint64_t qemu_plugin_tb_vaddr(const qemu_plugin_tb* tb);
qemu_plugin_insn* qemu_plugin_tb_get_insn(const qemu_plugin_tb* tb, std::size_t index);
void qemu_plugin_register_vcpu_tb_exec_cb(qemu_plugin_tb* tb, exec_cb cb,
                                          qemu_plugin_cb_flags flags, void* userdata);
void qemu_plugin_register_vcpu_mem_cb(qemu_plugin_insn* insn, mem_cb cb, qemu_plugin_cb_flags flags,
                                      qemu_plugin_mem_rw rw, void* userdata);
unsigned qemu_plugin_mem_size_shift(qemu_plugin_meminfo_t info);
bool qemu_plugin_mem_is_store(qemu_plugin_meminfo_t info);
void qemu_plugin_register_vcpu_syscall_cb(qemu_plugin_id_t id, syscall_cb cb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, exit_cb cb, void* userdata);
void qemu_plugin_outs(const char* text);

__attribute__((visibility("default"))) extern const int qemu_plugin_version;
__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id,
                                                               const qemu_info_t* info, int argc,
                                                               char** argv);
}

const int qemu_plugin_version = 1;

namespace {

// The marker call: a system call number no ARM kernel has. Its first
// argument says what happens.
constexpr std::int64_t kMarkerCall = 999;
enum Marker : std::uint64_t {
    kSequence = 1,
    kPan = 2,
    kPageRange = 3,
    kUncounted = 4,
    kCounted = 5
};

// Each guest thread is a virtual CPU of its own. The program lets one
// thread run counted code at a time, so the shared totals below are
// written by one thread at a time.
constexpr unsigned kMaxThreads = 16;
bool counting[kMaxThreads] = {};
std::uint64_t instructions = 0;
std::uint64_t written = 0;
std::uint64_t read = 0;
std::uint64_t range_begin = 0;
std::uint64_t range_end = 0;

std::uint64_t frame_instructions = 0;
std::uint64_t frame_written = 0;
std::uint64_t frame_read = 0;
std::uint64_t sequence = 0;
std::uint64_t frame_index = 0;

struct Block {
    std::uint64_t address;
    std::uint64_t instructions;
    std::uint64_t runs = 0;
};
std::mutex blocks_lock;
std::vector<Block*> blocks;
std::uint64_t profiled_sequence = 0;  // 0: no profile
std::uint64_t profiled_frames = 0;

bool counted(unsigned vcpu) {
    return vcpu < kMaxThreads && counting[vcpu];
}

void on_block(unsigned vcpu, void* data) {
    if (!counted(vcpu))
        return;
    Block* block = static_cast<Block*>(data);
    instructions += block->instructions;
    if (sequence == profiled_sequence)
        ++block->runs;
}

void on_memory(unsigned vcpu, qemu_plugin_meminfo_t info, std::uint64_t vaddr, void*) {
    if (vaddr < range_begin || vaddr >= range_end || !counted(vcpu))
        return;
    const std::uint64_t bytes = 1u << qemu_plugin_mem_size_shift(info);
    if (qemu_plugin_mem_is_store(info))
        written += bytes;
    else
        read += bytes;
}

void on_translation(qemu_plugin_id_t, qemu_plugin_tb* tb) {
    const std::size_t count = qemu_plugin_tb_n_insns(tb);
    Block* block = new Block{qemu_plugin_tb_vaddr(tb), count};
    {
        const std::lock_guard<std::mutex> hold(blocks_lock);
        blocks.push_back(block);
    }
    qemu_plugin_register_vcpu_tb_exec_cb(tb, on_block, QEMU_PLUGIN_CB_NO_REGS, block);
    for (std::size_t i = 0; i < count; ++i) {
        qemu_plugin_register_vcpu_mem_cb(qemu_plugin_tb_get_insn(tb, i), on_memory,
                                         QEMU_PLUGIN_CB_NO_REGS, QEMU_PLUGIN_MEM_RW, nullptr);
    }
}

void on_syscall(qemu_plugin_id_t, unsigned vcpu, std::int64_t number, std::uint64_t what,
                std::uint64_t a2, std::uint64_t a3, std::uint64_t, std::uint64_t, std::uint64_t,
                std::uint64_t, std::uint64_t) {
    if (number != kMarkerCall || vcpu >= kMaxThreads)
        return;
    switch (what) {
        case kSequence:
            sequence = a2;
            frame_index = 0;
            break;
        case kPageRange:
            range_begin = a2;
            range_end = a2 + a3;
            break;
        case kUncounted:
            counting[vcpu] = false;
            break;
        case kCounted:
            counting[vcpu] = true;
            break;
        case kPan: {
            counting[vcpu] = false;
            char line[160];
            std::snprintf(line, sizeof line,
                          "frame %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 "\n",
                          sequence, frame_index++, instructions - frame_instructions,
                          written - frame_written, read - frame_read);
            qemu_plugin_outs(line);
            profiled_frames += sequence == profiled_sequence;
            frame_instructions = instructions;
            frame_written = written;
            frame_read = read;
            break;
        }
        default:
            break;
    }
}

void on_exit(qemu_plugin_id_t, void*) {
    if (profiled_sequence == 0)
        return;
    char line[160];
    for (const Block* block : blocks) {
        if (block->runs == 0)
            continue;
        std::snprintf(line, sizeof line, "block %" PRIx64 " %" PRIu64 " %" PRIu64 "\n",
                      block->address, block->instructions, block->runs);
        qemu_plugin_outs(line);
    }
    std::snprintf(line, sizeof line, "frames %" PRIu64 "\n", profiled_frames);
    qemu_plugin_outs(line);
}

}  // namespace

int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t*, int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "profile=", 8) == 0)
            profiled_sequence = std::strtoull(argv[i] + 8, nullptr, 10);
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translation);
    qemu_plugin_register_vcpu_syscall_cb(id, on_syscall);
    qemu_plugin_register_atexit_cb(id, on_exit, nullptr);
    return 0;
}
