// A failure that ends a command: its exit status and a one-line message.
#pragma once

#include <string>
#include <utility>

inline constexpr int exit_ok = 0;
inline constexpr int exit_failed = 1;  // a request failed, or a result could not be written
inline constexpr int exit_usage = 2;   // bad arguments or an unreadable input file

struct CliError {
    int status;
    std::string message;
};

[[noreturn]] inline void fail(int status, std::string message) { throw CliError{status, std::move(message)}; }
[[noreturn]] inline void usage_error(std::string message) { fail(exit_usage, std::move(message)); }
