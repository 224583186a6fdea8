// Capture of one response while libcurl runs the transfer.
#pragma once

#include <cstddef>

#include <curl/curl.h>
#include <yyjson.h>

// Where the header callback collects lines: a document and its root object.
// Either may be null when its creation failed; lines are then dropped.
struct HeaderContext {
    yyjson_mut_doc *doc = nullptr;
    yyjson_mut_val *obj = nullptr;
};

std::size_t write_body_cb(char *data, std::size_t size, std::size_t nmemb, void *userdata) noexcept;
std::size_t write_header_cb(char *data, std::size_t size, std::size_t nmemb, void *userdata) noexcept;

// Makes sure the body buffer exists and is empty; false when it cannot be allocated.
bool ac_response_prepare_body() noexcept;

// Stores status, headers JSON (consuming the context's document) and timing
// JSON once the transfer has ended, successfully or not.
void ac_response_record(CURL *handle, HeaderContext &headers) noexcept;
