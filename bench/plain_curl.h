// The baseline for the request benchmark: a GET done with libcurl directly,
// with the options, body growth and header parsing that api_request uses,
// minus everything around them (config parsing, expansion, library state).
#pragma once

#include <cstddef>
#include <string>

struct PlainResponse {
    char *body = nullptr;  // NUL-terminated; kept between requests, like api_request's
    std::size_t body_len = 0;
    std::size_t body_cap = 0;
    long status = 0;
    std::string headers_json;
    char time_json[512] = "{}";

    PlainResponse() = default;
    PlainResponse(const PlainResponse &) = delete;
    PlainResponse &operator=(const PlainResponse &) = delete;
    ~PlainResponse();
};

// A fresh easy handle per call, as api_request does, or `kept`, an easy
// handle that libcurl reuses with its connection from call to call. True
// when the transfer completed.
bool plain_get(const char *url, PlainResponse &out, void *kept = nullptr);
