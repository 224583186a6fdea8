// Scaling checks: how much longer a piece of work takes for 8n than for n.
// A linear one grows about 8 times, a quadratic one about 64 times, so a
// bound between the two tells them apart on any machine.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <ctime>

constexpr double linear_growth_bound = 24.0;

// The calling thread's CPU time where the platform has it, so that a busy
// machine does not make linear work look quadratic.
inline double scaling_clock_seconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

template <class Work> double growth_for_8n(Work work, std::size_t n) {
    auto best_of_3 = [&](std::size_t size) {
        double best = 1e300;
        for (int i = 0; i < 3; ++i) {
            double start = scaling_clock_seconds();
            work(size);
            best = std::min(best, scaling_clock_seconds() - start);
        }
        return best;
    };
    double small = best_of_3(n);
    return best_of_3(8 * n) / std::max(small, 1e-6);
}
