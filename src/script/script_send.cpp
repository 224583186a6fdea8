// pm.sendRequest: a request of a script's own, sent on a handle of its own,
// so that the session's last response stays the one the scripts read.
#include "script/script_send.h"

#include <chrono>
#include <cstring>

#include <curl/curl.h>

#include "url/url.h"
#include "util/alloc.h"
#include "util/json_build.h"
#include "util/owners.h"
#include "util/util.h"

namespace {

struct Received {
    DynBuf body;
    yyjson_mut_doc *doc = nullptr;
    yyjson_mut_val *headers = nullptr;  // of the last response of a redirect chain
    JsonBuild *b = nullptr;
    DynBuf status;                      // its reason phrase
};

std::size_t on_body(char *data, std::size_t size, std::size_t n, void *userdata) noexcept {
    return static_cast<Received *>(userdata)->body.append(data, size * n) ? size * n : 0;
}

std::size_t on_header(char *data, std::size_t size, std::size_t n, void *userdata) noexcept {
    auto *r = static_cast<Received *>(userdata);
    std::size_t len = size * n, end = len;
    while (end > 0 && (data[end - 1] == '\r' || data[end - 1] == '\n')) --end;
    if (end >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        // A new response (a redirect's or the final one): only the last counts.
        yyjson_mut_arr_clear(r->headers);
        const char *sp = static_cast<const char *>(std::memchr(data, ' ', end));
        const char *reason = sp ? static_cast<const char *>(std::memchr(sp + 1, ' ', end - (sp + 1 - data))) : nullptr;
        r->status.reset();
        if (reason) r->status.append(reason + 1, end - (reason + 1 - data));
        return len;
    }
    const char *colon = static_cast<const char *>(std::memchr(data, ':', end));
    if (!colon) return len;
    const char *value = colon + 1;
    while (value < data + end && (*value == ' ' || *value == '\t')) ++value;
    yyjson_mut_val *h = r->b->obj();
    r->b->add_text(h, "key", data, static_cast<std::size_t>(colon - data));
    r->b->add_text(h, "value", value, static_cast<std::size_t>(data + end - value));
    r->b->append(r->headers, h);
    return r->b->ok() ? len : 0;
}

// Appends "name=value" pairs of an urlencoded body, encoded as a form.
bool urlencoded(DynBuf &out, yyjson_val *list) noexcept {
    yyjson_val *pair;
    yyjson_arr_iter it = yyjson_arr_iter_with(list);
    for (bool first = true; (pair = yyjson_arr_iter_next(&it));) {
        if (yyjson_is_true(yyjson_obj_get(pair, "disabled"))) continue;
        const char *k = ac_json_str(pair, "key", ""), *v = ac_json_str(pair, "value", "");
        if (!(first || out.append_byte('&')) || !ac_url_encode(out, k, std::strlen(k), UrlSet::form) ||
            !out.append_byte('=') || !ac_url_encode(out, v, std::strlen(v), UrlSet::form))
            return false;
        first = false;
    }
    return true;
}

// The value of a key in a Postman auth list ([{"key","value"}]).
const char *auth_param(yyjson_val *auth, const char *type, const char *key) noexcept {
    yyjson_val *entry;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(auth, type));
    while ((entry = yyjson_arr_iter_next(&it))) {
        if (std::strcmp(ac_json_str(entry, "key", ""), key) == 0) return ac_json_str(entry, "value", "");
    }
    return "";
}

struct Prepared {
    curl_slist *headers = nullptr;
    DynBuf body;
    bool has_body = false;
    bool typed = false;  // a Content-Type header was given
    ~Prepared() { curl_slist_free_all(headers); }
    bool header(const char *line) noexcept {
        curl_slist *next = curl_slist_append(headers, line);
        if (next) headers = next;
        return next != nullptr;
    }
};

bool prepare(CURL *h, yyjson_val *req, Prepared &p, DynBuf &why) noexcept {
    yyjson_val *entry;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(req, "headers"));
    while ((entry = yyjson_arr_iter_next(&it))) {
        if (yyjson_is_true(yyjson_obj_get(entry, "disabled"))) continue;
        const char *k = ac_json_str(entry, "key", ""), *v = ac_json_str(entry, "value", "");
        if (!*k || std::strpbrk(k, "\r\n:") || std::strpbrk(v, "\r\n")) continue;
        p.typed = p.typed || ac_ascii_ieq(k, "content-type");
        DynBuf line;
        if (!line.appendf(*v ? "%s: %s" : "%s;", k, v) || !p.header(line.c_str())) return why.append("out of memory"), false;
    }
    yyjson_val *auth = yyjson_obj_get(req, "auth");
    const char *type = ac_json_str(auth, "type", "");
    if (std::strcmp(type, "basic") == 0) {
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(h, CURLOPT_USERNAME, auth_param(auth, "basic", "username"));
        curl_easy_setopt(h, CURLOPT_PASSWORD, auth_param(auth, "basic", "password"));
    } else if (std::strcmp(type, "bearer") == 0) {
        DynBuf line;
        if (!line.appendf("Authorization: Bearer %s", auth_param(auth, "bearer", "token")) || !p.header(line.c_str()))
            return why.append("out of memory"), false;
    }
    yyjson_val *body = yyjson_obj_get(req, "body");
    const char *mode = ac_json_str(body, "mode", "");
    if (std::strcmp(mode, "raw") == 0) {
        const char *raw = ac_json_str(body, "raw", "");
        p.has_body = p.body.append(raw);
    } else if (std::strcmp(mode, "urlencoded") == 0) {
        p.has_body = urlencoded(p.body, yyjson_obj_get(body, "urlencoded"));
        if (p.has_body && !p.typed && !p.header("Content-Type: application/x-www-form-urlencoded"))
            return why.append("out of memory"), false;
    } else if (*mode) {
        return why.appendf("pm.sendRequest: body mode '%s' is not supported", mode), false;
    }
    if (!p.body.ok()) return why.append("out of memory"), false;
    return true;
}

}  // namespace

bool ac_script_send(const char *json, std::size_t len, DynBuf &reply) noexcept {
    unique_doc doc(ac_json_read(json, len));
    yyjson_val *req = yyjson_doc_get_root(doc.get());
    const char *url = ac_json_str(req, "url", "");
    if (!*url) return reply.append("pm.sendRequest: no URL"), false;
    unique_easy handle(curl_easy_init());
    unique_mut_doc out(yyjson_mut_doc_new(ac_alc()));
    if (!handle || !out) return reply.append("out of memory"), false;
    CURL *h = handle.get();
    JsonBuild b(out.get());
    Received got;
    got.doc = out.get();
    got.headers = b.arr();
    got.b = &b;
    Prepared p;
    if (!prepare(h, req, p, reply)) return false;
    const char *method = ac_json_str(req, "method", "GET");
    curl_easy_setopt(h, CURLOPT_URL, url);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, p.headers);
    if (p.has_body) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, p.body.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(p.body.len()));
    }
    if (ac_ascii_ieq(method, "HEAD")) {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (!ac_ascii_ieq(method, p.has_body ? "POST" : "GET")) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method);
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &got);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &got);
    auto started = std::chrono::steady_clock::now();
    CURLcode rc = curl_easy_perform(h);
    if (rc != CURLE_OK) return reply.append(curl_easy_strerror(rc)), false;
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    yyjson_mut_val *root = b.obj();
    b.add(root, "code", yyjson_mut_sint(out.get(), code));
    b.add_text(root, "status", got.status.c_str(), got.status.len());
    b.add(root, "headers", got.headers);
    b.add_text(root, "body", got.body.c_str(), got.body.len());
    b.add(root, "responseTime", yyjson_mut_sint(out.get(), static_cast<long long>(ms)));
    b.add(root, "responseSize", yyjson_mut_uint(out.get(), got.body.len()));
    if (!b.ok() || !got.body.ok()) return reply.append("out of memory"), false;
    yyjson_mut_doc_set_root(out.get(), root);
    std::size_t n = 0;
    unique_cstr text(yyjson_mut_write_opts(out.get(), YYJSON_WRITE_ALLOW_INVALID_UNICODE, ac_alc(), &n, nullptr));
    if (!text) return reply.append("out of memory"), false;
    return reply.append(text.get(), n);
}
