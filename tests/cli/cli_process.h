// Runs the built quorvane program as a user's shell would, and what the
// process-level tests share.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/http_server.h"
#include "support/temp_dir.h"

struct Outcome {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` in `cwd`, standard input closed. The
// environment is the test's, less NO_COLOR, with the members of `env` added
// ("" removes a variable).
Outcome run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                    const std::map<std::string, std::string> &env = {});

// The built quorvane, with QUORVANE_HOME set to `home`.
Outcome run_quorvane(const std::vector<std::string> &args, const std::string &cwd, const std::string &home,
                     const std::map<std::string, std::string> &env = {});

// "METHOD target" lines of what the server received, in order.
std::vector<std::string> request_lines(const HttpServer &server);

// The one line a failed command writes to standard error.
bool is_one_line(const std::string &text);
