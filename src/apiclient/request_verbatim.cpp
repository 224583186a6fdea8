#include "apiclient/request_verbatim.h"

#include <cstring>

#include "util/util.h"

namespace {

constexpr std::size_t max_method_len = 32;
// libcurl asks for 100-continue above this size; the runner never does.
constexpr std::size_t expect_threshold = 1024 * 1024;

// The methods that, with an empty body, send no Content-Length at all.
constexpr const char *bodiless_methods[] = {"GET", "HEAD", "DELETE", "OPTIONS", "TRACE", "CONNECT"};

bool bodiless_by_default(const char *method) noexcept {
    for (const char *m : bodiless_methods) {
        if (std::strcmp(method, m) == 0) return true;
    }
    return false;
}

bool token_char(unsigned char c) noexcept {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

}  // namespace

bool ac_method_is_token(const char *method) noexcept {
    std::size_t len = std::strlen(method);
    if (len == 0 || len > max_method_len) return false;
    for (std::size_t i = 0; i < len; ++i) {
        if (!token_char(static_cast<unsigned char>(method[i]))) return false;
    }
    return true;
}

// The empty lines below are libcurl's way to leave out a header of its own;
// nothing more is added than a body needs, since AWS signing would sign
// every line of the list, these too.
bool ac_verbatim_headers(HeaderList &headers, const char *method, const char *body, const StreamBody &stream,
                         bool has_type) noexcept {
    if (!*body && !stream.ready()) return bodiless_by_default(method) || headers.append("Content-Length: 0");
    if (!has_type && !stream.ready() && !headers.append("Content-Type:")) return false;
    if (stream.ready() || std::strlen(body) > expect_threshold) return headers.append("Expect:");
    return true;
}

void ac_set_verbatim_method(CURL *h, const char *method, const char *body, StreamBody &stream) noexcept {
    bool head = std::strcmp(method, "HEAD") == 0;
    if (head) curl_easy_setopt(h, CURLOPT_NOBODY, 1L);  // no response body to wait for
    if (*body || stream.ready()) {
        if (stream.ready()) {
            stream.attach(h);
        } else {
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, body);
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(std::strlen(body)));
        }
        if (std::strcmp(method, "POST") != 0) curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method);
        return;
    }
    if (head) return;
    if (std::strcmp(method, "GET") == 0) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method);
    }
}
