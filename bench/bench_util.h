// Helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using clock_type = std::chrono::steady_clock;

inline double millis_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A fresh directory under the temporary folder; the program stops if it cannot make one.
inline std::string make_temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return pattern;
}
