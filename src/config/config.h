// Library-wide options set by api_configure. Every option defaults to the
// library's behaviour without it, so a host that never configures sees none.
#pragma once

#include <cstddef>

constexpr std::size_t user_agent_size = 1024;
constexpr int default_max_redirects = 30;
constexpr int max_redirects_limit = 100;
constexpr int max_timeout_script_ms = 86400000;  // a day

struct LibraryOptions {
    // Expand {{name}} in the string members of a request's "auth".
    bool expand_auth = false;
    // Fill {{$name}} placeholders the environment does not set with fresh values.
    bool dynamic_variables = false;
    // Expand a text again while values bring placeholders of their own.
    bool nested_variables = false;
    // Keep connections, DNS results and TLS sessions between requests.
    bool reuse_connections = false;
    // Ask for every encoding libcurl decodes, and decode the body.
    bool decompress = false;
    // Keep a cookie jar for the session: cookies a response sets go with
    // later requests, as the format's runner sends them.
    bool cookies = false;
    // libcurl 7.88 has no redirect limit of its own; a loop must not hang a request.
    int max_redirects = default_max_redirects;
    // User-Agent header of every request; "" sends none.
    char user_agent[user_agent_size] = "";
    // A response whose body, or whose header lines, pass this many bytes
    // stops the transfer and fails the request; 0: no limit.
    long long max_response_bytes = 0;
    // The one directory body files may come from, as a real path (every link
    // resolved); "": any file the process can read.
    char body_files_dir[user_agent_size] = "";
    // How long one script may run, in milliseconds; 0: no limit, as the
    // format's runner has it.
    int timeout_script_ms = 0;
    // The script context's heap, in bytes; 0: the engine's default.
    long long script_memory_bytes = 0;
};

// The options in force.
const LibraryOptions &ac_options() noexcept;

// Back to the defaults (api_cleanup).
void ac_options_reset() noexcept;
