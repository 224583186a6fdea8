// The last response, and its capture while libcurl runs the transfer.
#pragma once

#include <cstddef>

#include <curl/curl.h>
#include <yyjson.h>

#include "util/dynbuf.h"

constexpr std::size_t time_json_size = 512;

// HTTP status of the last response; 0 when none was received.
extern int g_response_status;
// Headers JSON of the last response (heap text), or NULL.
extern char *g_response_headers_json;
// Body of the last response. The buffer survives between requests; only
// api_cleanup frees it.
extern DynBuf g_response_body;
extern char g_response_time_json[time_json_size];

// Empties the response state; the body buffer itself is kept.
void clear_response_buffers() noexcept;
// clear_response_buffers, then frees the body buffer (api_cleanup).
void ac_response_release() noexcept;

// Where the header callback collects lines: a document and an object in it.
// Either may be null when its creation failed; lines are then dropped.
struct HeaderSink {
    yyjson_mut_doc *doc = nullptr;
    yyjson_mut_val *obj = nullptr;
    bool lost = false;  // a header could not be kept for lack of memory
};

// The sink of the headers JSON, which owns its document.
struct HeaderContext : HeaderSink {
    HeaderContext() noexcept;
    ~HeaderContext() { yyjson_mut_doc_free(doc); }
    HeaderContext(const HeaderContext &) = delete;
    HeaderContext &operator=(const HeaderContext &) = delete;
};

std::size_t write_body_cb(char *data, std::size_t size, std::size_t nmemb, void *userdata) noexcept;
std::size_t write_header_cb(char *data, std::size_t size, std::size_t nmemb, void *userdata) noexcept;

// Makes sure the body buffer exists and is empty, with "max_response_bytes"
// as its ceiling; false when it cannot be allocated.
bool ac_response_prepare_body() noexcept;
// True when the body passed that ceiling (the write callback then stopped
// the transfer).
bool ac_response_over_limit() noexcept;

// Stores status, headers JSON (written from the context's document) and timing
// JSON once the transfer has ended, successfully or not. False when memory
// ran out for the headers JSON (it then reads "{}").
bool ac_response_record(CURL *handle, HeaderContext &headers) noexcept;
