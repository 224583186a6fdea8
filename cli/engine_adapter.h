// What the program reads of the last response beyond the core calls: the
// whole body and the transfer details of api_response_info_json.
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

// HTTP version of the last response ("HTTP/1.1", "HTTP/2"), or "" when no
// response came.
std::string response_http_version();

// The URL the last request was sent to, as the library expanded and encoded
// it, or "" when the request failed before its transfer began.
std::string sent_url();
