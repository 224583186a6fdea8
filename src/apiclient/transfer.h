// Running one transfer: a multi handle driven by curl_multi_poll, so that
// api_request_cancel can wake it from another thread at once; the progress
// counts api_request_progress reads; and the connections, DNS results and
// TLS sessions kept between requests when "reuse_connections" is on.
#pragma once

#include <curl/curl.h>

// Marks one api_request from start to end: a cancel is aimed at the request
// running when it is made, and at no later one.
class RequestScope {
public:
    RequestScope() noexcept;
    ~RequestScope();
    RequestScope(const RequestScope &) = delete;
    RequestScope &operator=(const RequestScope &) = delete;
};

struct TransferResult {
    CURLcode code = CURLE_OK;
    bool cancelled = false;
    // A failure of the multi interface itself (CURLM_OK when none).
    CURLMcode multi_code = CURLM_OK;
};

// The transfer that comes next keeps its connection to itself and closes it
// when it ends: authentication bound to a connection (NTLM) must never be
// inherited by a later request.
void ac_transfer_private_connection() noexcept;

// Runs the transfer of a fully configured easy handle. With reuse on, the
// handle joins the kept multi handle and the shared DNS and TLS session
// caches; otherwise it runs in a multi handle of its own, like
// curl_easy_perform, and nothing survives it.
TransferResult ac_transfer_run(CURL *handle) noexcept;

// Closes kept connections and frees the caches (api_cleanup).
void ac_transfer_release() noexcept;
