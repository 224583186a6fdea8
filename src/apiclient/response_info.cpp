#include "apiclient/response_info.h"

#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "quorvane_apiclient.h"
#include "util/alloc.h"
#include "util/util.h"

namespace {

// Info JSON of the last transfer (yyjson-written heap text), or null.
char *s_info_json = nullptr;

curl_off_t time_of(CURL *h, CURLINFO what) noexcept {
    curl_off_t us = 0;
    curl_easy_getinfo(h, what, &us);
    return us;
}

PhaseMarks marks_of(CURL *h) noexcept {
    PhaseMarks m;
    m.dns = time_of(h, CURLINFO_NAMELOOKUP_TIME_T);
    m.connect = time_of(h, CURLINFO_CONNECT_TIME_T);
    m.tls = time_of(h, CURLINFO_APPCONNECT_TIME_T);
    m.first_byte = time_of(h, CURLINFO_STARTTRANSFER_TIME_T);
    return m;
}

// "HTTP/1.1 302 Found", "HTTP/2 200": the status, or 0.
int status_of(const char *line, std::size_t n) noexcept {
    std::size_t i = 5;
    while (i < n && line[i] != ' ') ++i;
    while (i < n && line[i] == ' ') ++i;
    int status = 0;
    for (int digits = 0; digits < 3; ++digits, ++i) {
        if (i >= n || line[i] < '0' || line[i] > '9') return 0;
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

long long long_info(CURL *h, CURLINFO what) noexcept {
    long v = 0;
    curl_easy_getinfo(h, what, &v);
    return v;
}

long long size_info(CURL *h, CURLINFO what) noexcept {
    curl_off_t v = 0;
    curl_easy_getinfo(h, what, &v);
    return static_cast<long long>(v);
}

const char *text_info(CURL *h, CURLINFO what) noexcept {
    char *v = nullptr;
    curl_easy_getinfo(h, what, &v);
    return v ? v : "";
}

const char *version_name(long version) noexcept {
    switch (version) {
    case CURL_HTTP_VERSION_1_0: return "1.0";
    case CURL_HTTP_VERSION_1_1: return "1.1";
    case CURL_HTTP_VERSION_2_0: return "2";
    case CURL_HTTP_VERSION_3: return "3";
    default: return "";
    }
}

// Phase lengths of the final exchange from libcurl's marks, which count from
// its start. A phase not reached when the transfer ended (a failure) takes
// the time that remains; one skipped (a reused connection needs no DNS or
// connect) is 0.
bool add_timing(yyjson_mut_doc *doc, yyjson_mut_val *obj, const PhaseMarks &m, bool tls, curl_off_t redirect,
                curl_off_t total) noexcept {
    curl_off_t end = total - redirect > 0 ? total - redirect : 0;
    const char *names[] = {"dns", "connect", "tls", "wait", "download"};
    curl_off_t marks[] = {m.dns, m.connect, tls ? m.tls : -1, m.first_byte, end};
    curl_off_t lengths[5] = {};
    curl_off_t prev = 0;
    for (int i = 0; i < 5; ++i) {
        if (marks[i] < 0) continue;  // no TLS on plain HTTP
        bool later_reached = false;
        for (int j = i + 1; j < 4; ++j) later_reached = later_reached || marks[j] > 0;
        if (marks[i] == 0 && !later_reached) {
            lengths[i] = end > prev ? end - prev : 0;
            break;
        }
        lengths[i] = marks[i] > prev ? marks[i] - prev : 0;
        if (marks[i] > prev) prev = marks[i];
    }
    yyjson_mut_val *timing = yyjson_mut_obj_add_obj(doc, obj, "timing_us");
    bool ok = timing != nullptr;
    for (int i = 0; i < 5; ++i) ok = ok && yyjson_mut_obj_add_int(doc, timing, names[i], lengths[i]);
    return ok && yyjson_mut_obj_add_int(doc, timing, "redirect", redirect) &&
           yyjson_mut_obj_add_int(doc, timing, "total", total);
}

PhaseMarks minus(PhaseMarks a, const PhaseMarks &b) noexcept {
    a.dns -= b.dns;
    a.connect -= b.connect;
    a.tls -= b.tls;
    a.first_byte -= b.first_byte;
    return a;
}

}  // namespace

TransferLog::TransferLog(CURL *handle, HeaderSink *headers) noexcept : handle_(handle), headers_(headers) {
    doc_ = yyjson_mut_doc_new(ac_alc());
    hops_ = doc_ ? yyjson_mut_arr(doc_) : nullptr;
}

TransferLog::~TransferLog() { yyjson_mut_doc_free(doc_); }

void TransferLog::open_block(const char *line, std::size_t n) noexcept {
    block_status_ = status_of(line, n);
    block_open_ = true;
    block_.doc = hops_ ? doc_ : nullptr;
    block_.obj = hops_ ? yyjson_mut_obj(doc_) : nullptr;
    block_.lost = false;
    if (!block_.obj) lost_ = true;
}

void TransferLog::close_block() noexcept {
    block_open_ = false;
    if (block_.lost) lost_ = true;
    if (block_status_ < 300 || block_status_ > 399 || !block_.obj) return;
    yyjson_mut_val *location = yyjson_mut_obj_get(block_.obj, "location");
    if (!location) return;  // not followed: this is the final response
    hop_marks_[0] = hop_marks_[1];
    hop_marks_[1] = marks_of(handle_);
    ++hop_count_;
    yyjson_mut_val *hop = yyjson_mut_obj(doc_);
    bool ok = hop && yyjson_mut_obj_add_int(doc_, hop, "status", block_status_) &&
              yyjson_mut_obj_add_val(doc_, hop, "location", yyjson_mut_val_mut_copy(doc_, location)) &&
              yyjson_mut_obj_add_val(doc_, hop, "headers", block_.obj) && yyjson_mut_arr_append(hops_, hop);
    if (!ok) lost_ = true;
}

bool TransferLog::on_line(char *data, std::size_t n) noexcept {
    long long limit = ac_options().max_response_bytes;
    header_bytes_ += static_cast<long long>(n);
    if (limit > 0 && header_bytes_ > limit) {
        over_limit_ = true;
        return false;
    }
    write_header_cb(data, 1, n, headers_);
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        open_block(data, n);
    } else if (n <= 2 && (data[0] == '\r' || data[0] == '\n')) {
        if (block_open_) close_block();
    } else if (block_open_) {
        write_header_cb(data, 1, n, &block_);
    }
    return true;
}

bool TransferLog::record(const char *sent_url) noexcept {
    ac_response_info_clear();
    yyjson_mut_val *obj = hops_ ? yyjson_mut_obj(doc_) : nullptr;
    if (!obj) return false;
    yyjson_mut_doc_set_root(doc_, obj);
    CURL *h = handle_;
    bool ok = !lost_;
    long long redirects = long_info(h, CURLINFO_REDIRECT_COUNT);
    // A redirect that was not followed (the limit, a refused scheme) is the
    // final response, not a hop.
    while (static_cast<long long>(yyjson_mut_arr_size(hops_)) > redirects) yyjson_mut_arr_remove_last(hops_);

    ok = ok && yyjson_mut_obj_add_strcpy(doc_, obj, "url", sent_url);
    ok = ok && yyjson_mut_obj_add_strcpy(doc_, obj, "effective_url", text_info(h, CURLINFO_EFFECTIVE_URL));
    const char *version = version_name(static_cast<long>(long_info(h, CURLINFO_HTTP_VERSION)));
    ok = ok && yyjson_mut_obj_add_str(doc_, obj, "http_version", version);
    const char *remote_ip = text_info(h, CURLINFO_PRIMARY_IP);
    ok = ok && yyjson_mut_obj_add_strcpy(doc_, obj, "remote_ip", remote_ip);
    ok = ok && yyjson_mut_obj_add_int(doc_, obj, "remote_port", long_info(h, CURLINFO_PRIMARY_PORT));
    ok = ok && yyjson_mut_obj_add_int(doc_, obj, "local_port", long_info(h, CURLINFO_LOCAL_PORT));
    ok = ok && yyjson_mut_obj_add_int(doc_, obj, "redirect_count", redirects);
    ok = ok && yyjson_mut_obj_add_val(doc_, obj, "redirects", hops_);
    long long header_bytes = long_info(h, CURLINFO_HEADER_SIZE);
    ok = ok && yyjson_mut_obj_add_int(doc_, obj, "bytes_sent",
                                      long_info(h, CURLINFO_REQUEST_SIZE) + size_info(h, CURLINFO_SIZE_UPLOAD_T));
    ok = ok && yyjson_mut_obj_add_int(doc_, obj, "bytes_received", header_bytes + size_info(h, CURLINFO_SIZE_DOWNLOAD_T));
    ok = ok && yyjson_mut_obj_add_int(doc_, obj, "header_bytes", header_bytes);
    // No new connection, yet a peer: every exchange went over a kept one.
    bool reused = long_info(h, CURLINFO_NUM_CONNECTS) == 0 && *remote_ip;
    ok = ok && yyjson_mut_obj_add_bool(doc_, obj, "connection_reused", reused);

    PhaseMarks marks = marks_of(h);
    if (redirects > 0 && hop_count_ >= redirects && hop_count_ - redirects <= 1) {
        marks = minus(marks, hop_marks_[hop_count_ == redirects ? 1 : 0]);
    }
    bool tls = ac_ascii_ieq(text_info(h, CURLINFO_SCHEME), "https");
    ok = ok && add_timing(doc_, obj, marks, tls, time_of(h, CURLINFO_REDIRECT_TIME_T), time_of(h, CURLINFO_TOTAL_TIME_T));
    s_info_json = ok ? yyjson_mut_write_opts(doc_, 0, ac_alc(), nullptr, nullptr) : nullptr;
    return s_info_json != nullptr;
}

std::size_t ac_info_header_cb(char *data, std::size_t size, std::size_t nmemb, void *userdata) noexcept {
    std::size_t n = size * nmemb;
    // Any other count than n makes libcurl end the transfer.
    if (n > 0 && !static_cast<TransferLog *>(userdata)->on_line(data, n)) return 0;
    return n;
}

void ac_response_info_clear() noexcept {
    ac_free(s_info_json);
    s_info_json = nullptr;
}

extern "C" const char *api_response_info_json(void) noexcept { return s_info_json ? s_info_json : "{}"; }

extern "C" long long api_response_body_len(void) noexcept { return static_cast<long long>(g_response_body.len()); }
