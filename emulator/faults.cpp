// The fault table: which calls through the seam fail, raise a signal or end
// the process.
#include "emulator/faults.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace emu {
namespace {

struct Slot {
    Fault fault;
    char target[96];  // the fault's target, kept
    int seen = 0;     // matching calls so far
};

struct Table {
    // The main thread and the sound thread both make calls.
    std::mutex lock;
    Slot slots[kMaxFaults];
    int count = 0;
};

Table& table() {
    static Table instance;
    return instance;
}

}  // namespace

void add_fault(const Fault& fault) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    if (t.count >= kMaxFaults)
        return;
    Slot& slot = t.slots[t.count++];
    slot.fault = fault;
    std::snprintf(slot.target, sizeof slot.target, "%s", fault.target ? fault.target : "");
    slot.fault.target = nullptr;
    slot.seen = 0;
}

namespace faults {

Verdict judge(Call call, const char* target) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    Verdict verdict;
    for (int i = 0; i < t.count; ++i) {
        Slot& slot = t.slots[i];
        if (slot.fault.call != call)
            continue;
        if (slot.target[0] != 0 &&
            (target == nullptr || std::strstr(target, slot.target) == nullptr)) {
            continue;
        }
        slot.seen += 1;
        if (slot.fault.occurrence != 0 && slot.seen != slot.fault.occurrence)
            continue;
        bool late = slot.fault.after && slot.fault.action != Action::Fail;
        if (late) {
            if (verdict.after == nullptr)
                verdict.after = &slot.fault;
        } else if (verdict.before == nullptr) {
            verdict.before = &slot.fault;
        }
    }
    return verdict;
}

void carry_out(const Fault* fault) {
    if (fault == nullptr)
        return;
    if (fault->action == Action::Kill)
        _exit(fault->value);
    if (fault->action == Action::RaiseSignal)
        kill(getpid(), fault->value);
}

void reset() {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    t.count = 0;
}

}  // namespace faults
}  // namespace emu
