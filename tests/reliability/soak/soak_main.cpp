// The long soak, run by scripts/soak: reliability_soak HOURS (of game time).
// Prints the figures and exits 0 only when the soak held.
#include <cstdio>
#include <cstdlib>

#include "soak/whole_program_soak.h"

int main(int argc, char** argv) {
    const double hours = argc > 1 ? std::atof(argv[1]) : 24.0;
    const long long seconds = static_cast<long long>(hours * 3600.0);
    if (seconds < 120) {
        std::fprintf(stderr, "usage: reliability_soak HOURS (at least two minutes)\n");
        return 2;
    }
    // A day of game time takes hours of machine time under the sanitizers.
    SoakReport report = run_soak(seconds, 20 * 3600);
    std::printf("%s\n", describe(report).c_str());
    bool held = !report.result.timed_out && report.result.signal == 0 &&
                report.result.status == 0 && report.complete && report.breaks == 0 &&
                report.rss_last_kib <= report.rss_warm_kib + 64;
    if (report.breaks != 0)
        std::printf("first break: %s\n", report.first_break.c_str());
    if (!held)
        std::printf("status %d, signal %d, timed out %d, stderr:\n%s\n", report.result.status,
                    report.result.signal, report.result.timed_out ? 1 : 0,
                    report.result.stderr_text.c_str());
    std::printf("%s\n", held ? "soak held" : "SOAK FAILED");
    return held ? 0 : 1;
}
