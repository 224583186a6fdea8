#include "plain_curl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <curl/curl.h>
#include <yyjson.h>

namespace {

constexpr std::size_t first_body_cap = 16384;
constexpr std::size_t header_line_size = 4096;

size_t on_body(char *data, size_t size, size_t count, void *user) {
    auto &out = *static_cast<PlainResponse *>(user);
    size_t n = size * count;
    if (n == 0) return 0;
    size_t needed = out.body_len + n + 1;
    if (out.body_cap < needed) {
        size_t cap = out.body_cap ? out.body_cap * 2 : first_body_cap;
        while (cap < needed) cap *= 2;
        char *grown = static_cast<char *>(std::realloc(out.body, cap));
        if (!grown) return 0;
        out.body = grown;
        out.body_cap = cap;
    }
    std::memcpy(out.body + out.body_len, data, n);
    out.body_len += n;
    out.body[out.body_len] = '\0';
    return n;
}

struct HeaderDoc {
    yyjson_mut_doc *doc;
    yyjson_mut_val *obj;
};

size_t on_header(char *data, size_t size, size_t count, void *user) {
    auto *ctx = static_cast<HeaderDoc *>(user);
    size_t n = size * count;
    if (n <= 1) return n;
    char line[header_line_size];
    size_t len = std::min(n, header_line_size - 1);
    std::memcpy(line, data, len);
    while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == '\n')) --len;
    line[len] = '\0';
    char *colon = std::strchr(line, ':');
    if (!colon) return n;
    char *name = line, *name_end = colon, *value = colon + 1, *value_end = line + len;
    while (name < name_end && *name == ' ') ++name;
    while (name_end > name && name_end[-1] == ' ') --name_end;
    while (value < value_end && *value == ' ') ++value;
    while (value_end > value && value_end[-1] == ' ') --value_end;
    for (char *p = name; p < name_end; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    yyjson_mut_val *key = yyjson_mut_strncpy(ctx->doc, name, static_cast<size_t>(name_end - name));
    yyjson_mut_val *val = yyjson_mut_strncpy(ctx->doc, value, static_cast<size_t>(value_end - value));
    if (key && val) yyjson_mut_obj_add(ctx->obj, key, val);
    return n;
}

long long millis(CURL *easy, CURLINFO info) {
    curl_off_t micros = 0;
    curl_easy_getinfo(easy, info, &micros);
    return static_cast<long long>(micros / 1000);
}

}  // namespace

PlainResponse::~PlainResponse() { std::free(body); }

bool plain_get(const char *url, PlainResponse &out, void *kept) {
    if (!out.body) {
        out.body = static_cast<char *>(std::malloc(first_body_cap));
        if (!out.body) return false;
        out.body_cap = first_body_cap;
    }
    out.body[0] = '\0';
    out.body_len = 0;

    CURL *easy = kept ? static_cast<CURL *>(kept) : curl_easy_init();
    if (!easy) return false;
    curl_slist *headers = nullptr;
    HeaderDoc ctx{yyjson_mut_doc_new(nullptr), nullptr};
    ctx.obj = yyjson_mut_obj(ctx.doc);
    yyjson_mut_doc_set_root(ctx.doc, ctx.obj);

    curl_easy_setopt(easy, CURLOPT_URL, url);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &out);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &ctx);
    CURLcode code = curl_easy_perform(easy);

    out.status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &out.status);
    char *json = yyjson_mut_write(ctx.doc, 0, nullptr);
    out.headers_json = json ? json : "{}";
    std::free(json);
    yyjson_mut_doc_free(ctx.doc);
    curl_off_t bytes = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    std::snprintf(out.time_json, sizeof out.time_json,
                  "{\"dns_ms\":%lld,\"connect_ms\":%lld,\"tls_ms\":%lld,\"ttfb_ms\":%lld,\"total_ms\":%lld,"
                  "\"bytes\":%lld}",
                  millis(easy, CURLINFO_NAMELOOKUP_TIME_T), millis(easy, CURLINFO_CONNECT_TIME_T),
                  millis(easy, CURLINFO_APPCONNECT_TIME_T), millis(easy, CURLINFO_STARTTRANSFER_TIME_T),
                  millis(easy, CURLINFO_TOTAL_TIME_T), static_cast<long long>(bytes));
    curl_slist_free_all(headers);
    if (!kept) curl_easy_cleanup(easy);
    return code == CURLE_OK;
}
