// Scaling checks: how much longer a piece of work takes for 8n than for n.
// A linear one grows about 8 times, a quadratic one about 64 times, so a
// bound between the two tells them apart on any machine.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <ctime>

constexpr double linear_growth_bound = 24.0;
// Each timing spans at least this long, so that neither the clock's tick nor
// the cost of reading it weighs in the ratio.
constexpr double scaling_min_span_seconds = 0.03;

// The calling thread's CPU time where the platform has it, so that a busy
// machine does not make linear work look quadratic. Windows counts thread
// time in ticks of 15.6 ms: the steady clock there.
inline double scaling_clock_seconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

template <class Work> double growth_for_8n(Work work, std::size_t n) {
    auto time_runs = [&](std::size_t size, int runs) {
        double start = scaling_clock_seconds();
        for (int i = 0; i < runs; ++i) work(size);
        return scaling_clock_seconds() - start;
    };
    // As many runs of n as span the minimum; 8n is run as many times.
    int runs = 1;
    while (runs < (1 << 16) && time_runs(n, runs) < scaling_min_span_seconds) runs *= 2;
    auto best_of_3 = [&](std::size_t size) {
        double best = 1e300;
        for (int i = 0; i < 3; ++i) best = std::min(best, time_runs(size, runs));
        return best;
    };
    double small = best_of_3(n);
    return best_of_3(8 * n) / std::max(small, 1e-9);
}
