#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <curl/curl.h>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "apiclient/cookies.h"
#include "apiclient/request_auth.h"
#include "apiclient/request_body.h"
#include "apiclient/request_transport.h"
#include "apiclient/request_verbatim.h"
#include "apiclient/response.h"
#include "apiclient/response_info.h"
#include "apiclient/transfer.h"
#include "config/config.h"
#include "env/env.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

constexpr std::size_t header_line_size = 4096;
constexpr long connect_timeout_s = 10;

// The members of a RequestConfig; texts are borrowed from the parsed document.
struct RequestConfig {
    const char *url = nullptr;
    const char *method = "GET";
    const char *body = "";
    const char *body_type = "raw";
    yyjson_val *headers = nullptr;
    yyjson_val *auth = nullptr;
    yyjson_val *root = nullptr;  // for the members request_transport.h reads
    int timeout_s = 30;
    int follow_redirects = 1;
    int insecure = 0;
    // Sent as described, as the format's runner sends it (request_verbatim.h).
    bool verbatim = false;
};

// Only JSON integers count; their low 32 bits are taken as a signed int.
int int_member(yyjson_val *obj, const char *key, int fallback) noexcept {
    yyjson_val *v = yyjson_obj_get(obj, key);
    if (!yyjson_is_int(v)) return fallback;
    return static_cast<int>(static_cast<std::uint32_t>(yyjson_get_uint(v)));
}

RequestConfig read_config(yyjson_val *root) noexcept {
    RequestConfig c;
    c.root = root;
    c.url = yyjson_get_str(yyjson_obj_get(root, "url"));
    c.method = ac_json_str(root, "method", "GET");
    c.body = ac_json_str(root, "body", "");
    c.body_type = ac_json_str(root, "body_type", "raw");
    c.timeout_s = int_member(root, "timeout_s", 30);
    c.follow_redirects = int_member(root, "follow_redirects", 1);
    c.insecure = int_member(root, "insecure", 0);
    c.verbatim = yyjson_is_true(yyjson_obj_get(root, "verbatim"));
    yyjson_val *h = yyjson_obj_get(root, "headers");
    c.headers = yyjson_is_obj(h) ? h : nullptr;
    yyjson_val *a = yyjson_obj_get(root, "auth");
    c.auth = yyjson_is_obj(a) && yyjson_obj_size(a) > 0 ? a : nullptr;
    return c;
}

// A multipart body brings its own Content-Type with the boundary, so a
// given one is dropped (drop_content_type). An empty value makes libcurl
// leave out its own header of that name, unless the request is verbatim:
// then it goes out empty.
bool add_given_headers(HeaderList &out, yyjson_val *headers, bool drop_content_type, bool verbatim,
                       bool &saw_content_type) noexcept {
    if (!headers) return true;
    yyjson_obj_iter it = yyjson_obj_iter_with(headers);
    for (yyjson_val *k = yyjson_obj_iter_next(&it); k; k = yyjson_obj_iter_next(&it)) {
        const char *name = yyjson_get_str(k);
        if (drop_content_type && ac_ascii_ieq(name, "Content-Type")) continue;
        yyjson_val *v = yyjson_obj_iter_get_val(k);
        unique_cstr value(ac_request_expand(yyjson_is_str(v) ? yyjson_get_str(v) : ""));
        if (!value) return false;
        if (ac_refuse_line_break(name, value.get())) return false;
        if (verbatim) {
            // Whole, however long: a verbatim request goes out as described.
            // "name;" is libcurl's spelling of an empty header.
            if (!(*value ? out.append(name, value.get()) : out.appendf("%s;", name))) return false;
        } else {
            char line[header_line_size];
            std::snprintf(line, sizeof line, "%s: %s", name, value.get());
            if (!out.append(line)) return false;
        }
        if (ac_ascii_ieq(name, "Content-Type")) saw_content_type = true;
    }
    return true;
}

bool add_content_type(HeaderList &out, const char *body_type) noexcept {
    if (ac_ascii_ieq(body_type, "json")) return out.append("Content-Type: application/json");
    if (ac_ascii_ieq(body_type, "form")) return out.append("Content-Type: application/x-www-form-urlencoded");
    // A file goes out untyped unless a type is given: the empty line keeps
    // libcurl from adding its form type to a streamed POST body.
    if (ac_ascii_ieq(body_type, "file")) return out.append("Content-Type:");
    return true;
}

// POST, PUT, PATCH and DELETE send a body; the others never do.
constexpr const char *body_methods[] = {"POST", "PUT", "PATCH", "DELETE"};

bool sends_body(const char *method) noexcept {
    for (const char *m : body_methods) {
        if (ac_ascii_ieq(method, m)) return true;
    }
    return false;
}

void set_method(CURL *h, const char *method, const char *body, StreamBody &stream) noexcept {
    auto send_body = [h, body, &stream] {
        if (stream.ready()) return stream.attach(h);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(std::strlen(body)));
    };
    if (ac_ascii_ieq(method, "POST")) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        send_body();
    } else if (ac_ascii_ieq(method, "PUT") || ac_ascii_ieq(method, "PATCH")) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, ac_ascii_ieq(method, "PUT") ? "PUT" : "PATCH");
        send_body();
    } else if (ac_ascii_ieq(method, "DELETE")) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "DELETE");
        if (*body || stream.ready()) send_body();
    } else if (ac_ascii_ieq(method, "HEAD")) {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (ac_ascii_ieq(method, "OPTIONS")) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "OPTIONS");
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
}

void set_transfer_options(CURL *h, const RequestConfig &c, const char *url, curl_slist *headers) noexcept {
    curl_easy_setopt(h, CURLOPT_URL, url);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(c.timeout_s));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, connect_timeout_s);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, static_cast<long>(c.follow_redirects));
    // An HTTP API client: a placeholder or an imported collection must never
    // turn a request into a local file read or another protocol.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (c.insecure) {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }
}

// Builds a multipart or file body when the method sends one. The body text
// is then the parts' JSON text, or the expanded file path.
bool prepare_stream(CURL *h, const RequestConfig &c, const char *body, StreamBody &stream) noexcept {
    if (!c.verbatim && !sends_body(c.method)) return true;
    switch (ac_body_kind(c.body_type)) {
    case BodyKind::multipart: return stream.multipart(h, body);
    case BodyKind::file: return stream.file(body);
    case BodyKind::text: return true;
    }
    return true;
}

// Builds everything around the handle and runs the transfer. The expanded
// URL and body, and the stream body, outlive the handle, which points at them.
int perform(const RequestConfig &c, const char *expanded_url, const char *expanded_body) noexcept {
    unique_cstr final_url(ac_strdup(expanded_url));
    if (!final_url) {
        ac_set_error("api_request: out of memory");
        return 0;
    }
    HeaderList headers;
    StreamBody stream;
    unique_easy handle(curl_easy_init());
    if (!handle) {
        ac_set_error("api_request: curl_easy_init failed");
        return 0;
    }
    CURL *h = handle.get();
    bool saw_content_type = false;
    bool multipart = ac_body_kind(c.body_type) == BodyKind::multipart;
    if (!add_given_headers(headers, c.headers, multipart, c.verbatim, saw_content_type)) return 0;
    if (!saw_content_type && !add_content_type(headers, c.body_type)) return 0;
    const char *text_body = ac_body_kind(c.body_type) == BodyKind::text ? expanded_body : nullptr;
    if (!ac_apply_auth(h, c.auth, c.verbatim, text_body, headers, final_url)) return 0;
    if (!prepare_stream(h, c, expanded_body, stream)) return 0;
    bool typed = saw_content_type || ac_ascii_ieq(c.body_type, "json") || ac_ascii_ieq(c.body_type, "form");
    if (c.verbatim && !ac_verbatim_headers(headers, c.method, expanded_body, stream, typed)) return 0;
    if (!ac_response_prepare_body()) {
        ac_set_error("api_request: out of memory");
        return 0;
    }

    set_transfer_options(h, c, final_url.get(), headers.list.get());
    if (!ac_apply_transport(h, c.root)) return 0;
    if (c.verbatim) {
        ac_set_verbatim_method(h, c.method, expanded_body, stream);
    } else {
        set_method(h, c.method, expanded_body, stream);
    }

    HeaderContext ctx;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write_body_cb);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    TransferLog log(h, static_cast<HeaderSink *>(&ctx));
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, ac_info_header_cb);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &log);

    if (!ac_cookies_prepare(h)) return 0;
    TransferResult result = ac_transfer_run(h);
    ac_cookies_keep(h);
    bool recorded = log.record(final_url.get());
    recorded = ac_response_record(h, ctx) && recorded;
    // Release order: header list, then the handle, then the URL it points at.
    headers.list.reset();
    handle.reset();
    CURLcode rc = result.code;
    if (result.cancelled) {
        ac_set_error("api_request: cancelled");
        return 0;
    }
    if (log.over_limit() || ac_response_over_limit()) {
        // Nothing of a response past the limit is kept but its status and headers.
        g_response_body.release();
        ac_set_error("api_request: response larger than %lld bytes", ac_options().max_response_bytes);
        return 0;
    }
    if (result.multi_code != CURLM_OK) {
        ac_set_error("api_request: curl multi error (%d): %s", static_cast<int>(result.multi_code),
                     curl_multi_strerror(result.multi_code));
        return 0;
    }
    if (rc != CURLE_OK) {
        ac_set_error("api_request: curl error (%d): %s", static_cast<int>(rc), curl_easy_strerror(rc));
        return 0;
    }
    // A transfer whose headers could not all be kept is not reported whole.
    if (!recorded) {
        ac_set_error("api_request: out of memory");
        return 0;
    }
    return 1;
}

}  // namespace

extern "C" int api_request(const char *config_json) noexcept {
    RequestScope scope;
    ac_clear_error();
    clear_response_buffers();
    if (!g_initialized) ac_lazy_init();
    unique_doc doc(ac_json_read_arg("api_request", "config_json", config_json, "invalid JSON in config_json"));
    if (!doc) return 0;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) {
        ac_set_error("api_request: config_json must be an object");
        return 0;
    }
    RequestConfig config = read_config(root);
    if (!config.url) {
        ac_set_error("api_request: missing 'url'");
        return 0;
    }
    if (config.verbatim && !ac_method_is_token(config.method)) {
        ac_set_error("api_request: invalid method '%s'", config.method);
        return 0;
    }
    // Nothing is sent unless every text expanded whole.
    unique_cstr url(config.verbatim ? ac_request_expand_url(config.url) : ac_request_expand(config.url));
    if (!url) return 0;
    // Multipart placeholders are expanded part by part, never in the JSON text.
    bool multipart = ac_body_kind(config.body_type) == BodyKind::multipart;
    unique_cstr body = multipart ? unique_cstr(ac_strdup(config.body)) : ac_request_expand(config.body);
    if (!body) {
        if (multipart) ac_set_error("api_request: out of memory");
        return 0;
    }
    return perform(config, url.get(), body.get());
}
