// Running the format's own tools (the postman-collection SDK and newman,
// installed into tests/interop by scripts/interop-install) from tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

// Why the tools cannot run here, or "" when they can.
std::string interop_missing_tools();

// Runs a script of tests/interop with node and returns what it printed;
// a failing script fails the test.
std::string run_interop_script(const std::string &script, const std::string &args);

// Single-quoted for the shell.
std::string shell_quote(const std::string &text);

// The test command installs the tools and asks for these tests: a missing
// tool fails there rather than passing as skipped. Use in SetUp.
#define SKIP_OR_FAIL_WITHOUT_INTEROP_TOOLS()                         \
    do {                                                             \
        std::string why_ = interop_missing_tools();                  \
        if (!why_.empty() && std::getenv("QV_REQUIRE_INTEROP")) {    \
            FAIL() << why_;                                          \
        }                                                            \
        if (!why_.empty()) GTEST_SKIP() << why_;                     \
    } while (0)
