// What the program reads of the last response beyond the core calls. Every
// read that a newer library call will serve better goes through here, so
// that switching to api_response_body_len and api_response_info_json is a
// change of this file pair alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes of the last response body.
std::string_view response_bytes();

// Phases of the last transfer in microseconds, each one on its own (not
// counted from the start), and their total.
struct Timing {
    long long dns = 0;
    long long connect = 0;
    long long tls = 0;
    long long wait = 0;
    long long download = 0;
    long long total = 0;
};
Timing response_timing();

// HTTP version of the last response ("HTTP/1.1", "HTTP/2"), or "" when the
// library does not tell.
std::string response_http_version();
