#pragma once
// A measurement against a reference in the same run: every iteration runs
// the reference and then the subject on the same memory, each timed on its
// own, so that both meet the same caches, the same clock speed and the same
// neighbours on a shared machine. The benchmark's time is the subject's; the
// counters give the reference's time and the ratio of the two, which is the
// number to judge (run with --benchmark_repetitions and read the median).
// On a busy machine the fastest single run of each is steadier still:
// best_ratio compares those.
// prepare, when given, runs untimed before each of the two, so that both
// meet the same memory (the same background under a text, for instance).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

inline void nothing_to_prepare() {}

template <class Subject, class Reference, class Prepare = void (*)()>
void measure_against(benchmark::State& state, Subject subject, Reference reference,
                     Prepare prepare = nothing_to_prepare) {
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    double subject_seconds = 0;
    double reference_seconds = 0;
    double subject_best = 1e9;
    double reference_best = 1e9;
    for (auto _ : state) {
        prepare();
        const Clock::time_point reference_start = Clock::now();
        reference();
        benchmark::ClobberMemory();
        const Clock::time_point reference_end = Clock::now();
        prepare();
        const Clock::time_point subject_start = Clock::now();
        subject();
        benchmark::ClobberMemory();
        const Clock::time_point subject_end = Clock::now();
        const double this_subject = seconds(subject_end - subject_start);
        const double this_reference = seconds(reference_end - reference_start);
        reference_seconds += this_reference;
        subject_seconds += this_subject;
        subject_best = std::min(subject_best, this_subject);
        reference_best = std::min(reference_best, this_reference);
        state.SetIterationTime(this_subject);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["ref_us"] = benchmark::Counter(reference_seconds / runs * 1e6);
    state.counters["ratio"] = benchmark::Counter(subject_seconds / reference_seconds);
    state.counters["best_ratio"] = benchmark::Counter(subject_best / reference_best);
}
