#include "apiclient/response.h"
#include "util/alloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "apiclient/response_info.h"
#include "config/config.h"
#include "jsonbridge/jsonbridge.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

int g_response_status = 0;
char *g_response_headers_json = nullptr;
DynBuf g_response_body;
char g_response_time_json[time_json_size] = "{}";

namespace {

constexpr std::size_t first_body_cap = 16384;
constexpr std::size_t header_line_size = 4096;

void trim_spaces(const char *&begin, const char *&end) noexcept {
    while (begin < end && *begin == ' ') ++begin;
    while (end > begin && end[-1] == ' ') --end;
}

// Copies a header name or value into the document. Text that is not valid
// UTF-8 is read as ISO-8859-1 (one byte, one character) so that a single odd
// header cannot make the whole headers JSON unwritable.
yyjson_mut_val *header_text(yyjson_mut_doc *doc, const char *p, std::size_t n) noexcept {
    if (ac_utf8_valid(p, n)) return yyjson_mut_strncpy(doc, p, n);
    char latin1[header_line_size * 2];
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c < 0x80) {
            latin1[k++] = static_cast<char>(c);
        } else {
            latin1[k++] = static_cast<char>(0xC0 | (c >> 6));
            latin1[k++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return yyjson_mut_strncpy(doc, latin1, k);
}

}  // namespace

HeaderContext::HeaderContext() noexcept {
    doc = yyjson_mut_doc_new(ac_alc());
    obj = doc ? yyjson_mut_obj(doc) : nullptr;
    if (obj) yyjson_mut_doc_set_root(doc, obj);
}

void clear_response_buffers() noexcept {
    ac_json_query_forget();
    g_response_body.reset();
    ac_response_info_clear();
    ac_free(g_response_headers_json);
    g_response_headers_json = nullptr;
    std::snprintf(g_response_time_json, sizeof g_response_time_json, "{}");
    g_response_status = 0;
}

void ac_response_release() noexcept {
    clear_response_buffers();
    g_response_body.release();
}

bool ac_response_prepare_body() noexcept {
    g_response_body.reset();
    g_response_body.set_max(0);
    // 16 KiB up front covers most API responses without a reallocation.
    if (g_response_body.cap() == 0 && !g_response_body.reserve(first_body_cap - 1)) return false;
    // The ceiling bounds the growth too: memory stays near the limit.
    g_response_body.set_max(static_cast<std::size_t>(ac_options().max_response_bytes));
    return true;
}

bool ac_response_over_limit() noexcept { return g_response_body.error() == DynBuf::Error::too_large; }

std::size_t write_body_cb(char *data, std::size_t size, std::size_t nmemb, void *) noexcept {
    std::size_t n = size * nmemb;
    if (n == 0) return 0;
    // A refused append makes libcurl end the transfer with a write error.
    return g_response_body.append(data, n) ? n : 0;
}

std::size_t write_header_cb(char *data, std::size_t size, std::size_t nmemb, void *userdata) noexcept {
    std::size_t n = size * nmemb;
    auto *ctx = static_cast<HeaderSink *>(userdata);
    if (!ctx || n <= 1) return n;

    char line[header_line_size];
    std::size_t len = strnlen(data, n);
    // A cut long line must not end inside a character.
    len = ac_utf8_cut(data, len, header_line_size - 1);
    std::memcpy(line, data, len);
    line[len] = '\0';
    while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == '\n')) line[--len] = '\0';

    // Lines without a colon: status lines and the blank line ending each block.
    char *colon = static_cast<char *>(std::memchr(line, ':', len));
    if (!colon) return n;

    const char *name = line, *name_end = colon;
    const char *value = colon + 1, *value_end = line + len;
    trim_spaces(name, name_end);
    trim_spaces(value, value_end);
    for (char *c = const_cast<char *>(name); c < name_end; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c + 32);
    }

    yyjson_mut_val *k = ctx->doc ? header_text(ctx->doc, name, static_cast<std::size_t>(name_end - name)) : nullptr;
    yyjson_mut_val *v = k ? header_text(ctx->doc, value, static_cast<std::size_t>(value_end - value)) : nullptr;
    // Equal names are appended, never merged: Set-Cookie may repeat.
    if (!v || !yyjson_mut_is_obj(ctx->obj) || !yyjson_mut_obj_add(ctx->obj, k, v)) ctx->lost = true;
    return n;
}

bool ac_response_record(CURL *handle, HeaderContext &headers) noexcept {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    g_response_status = static_cast<int>(status);

    char *text = headers.doc && !headers.lost ? yyjson_mut_write_opts(headers.doc, 0, ac_alc(), nullptr, nullptr) : nullptr;
    bool whole = text != nullptr;
    g_response_headers_json = text;

    curl_off_t dns = 0, connect = 0, tls = 0, ttfb = 0, total = 0, bytes = 0;
    curl_easy_getinfo(handle, CURLINFO_NAMELOOKUP_TIME_T, &dns);
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connect);
    curl_easy_getinfo(handle, CURLINFO_APPCONNECT_TIME_T, &tls);
    curl_easy_getinfo(handle, CURLINFO_STARTTRANSFER_TIME_T, &ttfb);
    curl_easy_getinfo(handle, CURLINFO_TOTAL_TIME_T, &total);
    curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    std::snprintf(g_response_time_json, sizeof g_response_time_json,
                  "{\"dns_ms\":%lld,\"connect_ms\":%lld,\"tls_ms\":%lld,\"ttfb_ms\":%lld,"
                  "\"total_ms\":%lld,\"bytes\":%lld}",
                  static_cast<long long>(dns / 1000), static_cast<long long>(connect / 1000),
                  static_cast<long long>(tls / 1000), static_cast<long long>(ttfb / 1000),
                  static_cast<long long>(total / 1000), static_cast<long long>(bytes));
    return whole;
}

extern "C" const char *api_response_body(void) noexcept { return g_response_body.c_str(); }

extern "C" const char *api_response_headers_json(void) noexcept {
    return g_response_headers_json ? g_response_headers_json : "{}";
}

extern "C" int api_response_status(void) noexcept { return g_response_status; }

extern "C" const char *api_response_time_json(void) noexcept { return g_response_time_json; }
