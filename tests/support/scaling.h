// Scaling checks: how much longer a piece of work takes for 8n than for n.
// A linear one grows about 8 times, a quadratic one about 64 times, so a
// bound between the two tells them apart on any machine.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>

constexpr double linear_growth_bound = 24.0;

template <class Work> double growth_for_8n(Work work, std::size_t n) {
    auto best_of_3 = [&](std::size_t size) {
        double best = 1e300;
        for (int i = 0; i < 3; ++i) {
            auto start = std::chrono::steady_clock::now();
            work(size);
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    };
    double small = best_of_3(n);
    return best_of_3(8 * n) / std::max(small, 1e-6);
}
