// The story of the last transfer beyond status, headers and body: each
// redirect hop with its headers, the HTTP version, the addresses, byte
// counts, connection reuse and the length of each phase. Served as JSON by
// api_response_info_json.
#pragma once

#include <cstddef>

#include <curl/curl.h>
#include <yyjson.h>

#include "apiclient/response.h"

// libcurl's times for one exchange, each counted from its start.
struct PhaseMarks {
    curl_off_t dns = 0, connect = 0, tls = 0, first_byte = 0;
};

// What the header callback gathers while a transfer runs. Lines go to the
// headers JSON of the whole transfer, as they always did, and to the block
// of the response they belong to; a redirect's block becomes a hop.
class TransferLog {
public:
    TransferLog(CURL *handle, HeaderSink *headers) noexcept;
    ~TransferLog();
    TransferLog(const TransferLog &) = delete;
    TransferLog &operator=(const TransferLog &) = delete;

    // False once the header lines pass "max_response_bytes": the transfer stops.
    bool on_line(char *data, std::size_t n) noexcept;
    bool over_limit() const noexcept { return over_limit_; }
    // Writes the info JSON of the ended transfer (api_response_info_json),
    // with `sent_url`, the URL the request went to before any redirect;
    // false when memory ran out for any of it (it then reads "{}").
    bool record(const char *sent_url) noexcept;

private:
    void open_block(const char *line, std::size_t n) noexcept;
    void close_block() noexcept;

    CURL *handle_;
    HeaderSink *headers_;
    yyjson_mut_doc *doc_ = nullptr;
    yyjson_mut_val *hops_ = nullptr;
    HeaderSink block_;  // headers of the response being read
    int block_status_ = 0;
    bool block_open_ = false;
    // Marks taken at the end of the last two redirects (libcurl adds each
    // exchange's times to the earlier ones).
    PhaseMarks hop_marks_[2];
    int hop_count_ = 0;
    bool lost_ = false;  // a hop or one of its headers could not be kept
    long long header_bytes_ = 0;  // every line of every response so far
    bool over_limit_ = false;
};

// libcurl header callback; userdata is the TransferLog.
std::size_t ac_info_header_cb(char *data, std::size_t size, std::size_t nmemb, void *userdata) noexcept;

// Back to "{}" (start of each request), and freed (api_cleanup).
void ac_response_info_clear() noexcept;
