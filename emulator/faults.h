#pragma once
// The fault table (internal to the emulator): the faults a test asked for
// (add_fault, emulator.h), matched against every call through the seam, and
// seam(), which runs one call through the table and the call log.
#include <cerrno>
#include <type_traits>

#include "emulator/emulator.h"
#include "emulator/trace.h"

namespace emu {
namespace faults {

// What the table says about one call, before it is carried out: a fault
// that fails it or comes before it, and one that comes after it.
struct Verdict {
    const Fault* before = nullptr;
    const Fault* after = nullptr;
};
Verdict judge(Call call, const char* target);

// Carries out a Kill or RaiseSignal fault; nothing for none.
void carry_out(const Fault* fault);

// No faults.
void reset();

}  // namespace faults

// Runs one call through the fault table and the call log. body() does the
// work, answering failed with errno set when it fails; a Fail fault fails
// the call in its place.
template <typename Result, typename Body>
Result seam(Call call, const char* target, Result failed, Body body) {
    const faults::Verdict verdict = faults::judge(call, target);
    Result result;
    int err = 0;
    if (verdict.before != nullptr && verdict.before->action == Action::Fail) {
        err = verdict.before->value;
        result = failed;
    } else {
        faults::carry_out(verdict.before);
        errno = 0;
        result = body();
        err = errno;
    }
    long shown;
    if constexpr (std::is_pointer_v<Result>) {
        shown = result == failed ? -1 : 0;
    } else {
        shown = static_cast<long>(result);
    }
    trace::log_call(call, target, shown, shown < 0 ? err : 0);
    faults::carry_out(verdict.after);
    errno = err;
    return result;
}

}  // namespace emu
