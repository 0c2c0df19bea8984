// A plugin for user-mode QEMU that measures composed frames of the armhf
// build: the guest instructions executed and the bytes it reads and writes
// inside the framebuffer's memory, between two marker system calls that the
// measured program makes (bench/arm/frame_count.cpp). One line per frame:
//
//   frame <sequence> <index> <instructions> <bytes written> <bytes read>
//
// QEMU's plugin interface (version 1) is declared here by hand, only the
// calls used: Debian's QEMU loads plugins but ships no header for them.
#include <cinttypes>
#include <cstdint>
#include <cstdio>

extern "C" {
using qemu_plugin_id_t = std::uint64_t;
using qemu_plugin_meminfo_t = std::uint32_t;
struct qemu_info_t;
struct qemu_plugin_tb;
struct qemu_plugin_insn;
enum qemu_plugin_cb_flags { QEMU_PLUGIN_CB_NO_REGS, QEMU_PLUGIN_CB_R_REGS, QEMU_PLUGIN_CB_RW_REGS };
enum qemu_plugin_mem_rw { QEMU_PLUGIN_MEM_R = 1, QEMU_PLUGIN_MEM_W, QEMU_PLUGIN_MEM_RW };
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };

using tb_trans_cb = void (*)(qemu_plugin_id_t, qemu_plugin_tb*);
using mem_cb = void (*)(unsigned vcpu, qemu_plugin_meminfo_t info, std::uint64_t vaddr,
                        void* userdata);
using syscall_cb = void (*)(qemu_plugin_id_t, unsigned vcpu, std::int64_t number, std::uint64_t a1,
                            std::uint64_t a2, std::uint64_t a3, std::uint64_t a4, std::uint64_t a5,
                            std::uint64_t a6, std::uint64_t a7, std::uint64_t a8);
using exit_cb = void (*)(qemu_plugin_id_t, void*);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, tb_trans_cb cb);
std::size_t qemu_plugin_tb_n_insns(const qemu_plugin_tb* tb);
qemu_plugin_insn* qemu_plugin_tb_get_insn(const qemu_plugin_tb* tb, std::size_t index);
void qemu_plugin_register_vcpu_tb_exec_inline(qemu_plugin_tb* tb, qemu_plugin_op op, void* ptr,
                                              std::uint64_t imm);
void qemu_plugin_register_vcpu_mem_cb(qemu_plugin_insn* insn, mem_cb cb, qemu_plugin_cb_flags flags,
                                      qemu_plugin_mem_rw rw, void* userdata);
unsigned qemu_plugin_mem_size_shift(qemu_plugin_meminfo_t info);
bool qemu_plugin_mem_is_store(qemu_plugin_meminfo_t info);
void qemu_plugin_register_vcpu_syscall_cb(qemu_plugin_id_t id, syscall_cb cb);
void qemu_plugin_outs(const char* text);

__attribute__((visibility("default"))) extern const int qemu_plugin_version;
__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id,
                                                               const qemu_info_t* info, int argc,
                                                               char** argv);
}

const int qemu_plugin_version = 1;

namespace {

// The marker call: a system call number no ARM kernel has. Its first
// argument says what happens next.
constexpr std::int64_t kMarkerCall = 999;
enum Marker : std::uint64_t { kSequence = 1, kFrameBegin = 2, kFrameEnd = 3, kPageRange = 4 };

// The measured program is single-threaded, so plain counters do.
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

void on_memory(unsigned, qemu_plugin_meminfo_t info, std::uint64_t vaddr, void*) {
    if (vaddr < range_begin || vaddr >= range_end)
        return;
    const std::uint64_t bytes = 1u << qemu_plugin_mem_size_shift(info);
    if (qemu_plugin_mem_is_store(info))
        written += bytes;
    else
        read += bytes;
}

void on_translation(qemu_plugin_id_t, qemu_plugin_tb* tb) {
    const std::size_t count = qemu_plugin_tb_n_insns(tb);
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &instructions, count);
    for (std::size_t i = 0; i < count; ++i) {
        qemu_plugin_register_vcpu_mem_cb(qemu_plugin_tb_get_insn(tb, i), on_memory,
                                         QEMU_PLUGIN_CB_NO_REGS, QEMU_PLUGIN_MEM_RW, nullptr);
    }
}

void on_syscall(qemu_plugin_id_t, unsigned, std::int64_t number, std::uint64_t what,
                std::uint64_t a2, std::uint64_t a3, std::uint64_t, std::uint64_t, std::uint64_t,
                std::uint64_t, std::uint64_t) {
    if (number != kMarkerCall)
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
        case kFrameBegin:
            frame_instructions = instructions;
            frame_written = written;
            frame_read = read;
            break;
        case kFrameEnd: {
            char line[160];
            std::snprintf(line, sizeof line,
                          "frame %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 "\n",
                          sequence, frame_index++, instructions - frame_instructions,
                          written - frame_written, read - frame_read);
            qemu_plugin_outs(line);
            break;
        }
        default:
            break;
    }
}

}  // namespace

int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t*, int, char**) {
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translation);
    qemu_plugin_register_vcpu_syscall_cb(id, on_syscall);
    return 0;
}
