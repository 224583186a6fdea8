#include "apiclient/cookies.h"

#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "config/config.h"
#include "quorvane_apiclient.h"
#include "util/dynbuf.h"
#include "util/json_build.h"
#include "util/owners.h"
#include "util/util.h"

namespace {

// The jar as libcurl lists it: one Netscape cookie-file line a cookie.
unique_slist s_jar;
ResultBuf s_jar_json;

// "#HttpOnly_" before the domain marks an HttpOnly cookie in those lines.
constexpr const char http_only_mark[] = "#HttpOnly_";

// The seven tab-separated fields of a cookie line; false for another line.
bool fields(const char *line, const char *(&f)[7], std::size_t (&n)[7]) noexcept {
    const char *p = line;
    for (int i = 0; i < 7; ++i) {
        const char *tab = i < 6 ? std::strchr(p, '\t') : p + std::strlen(p);
        if (!tab) return false;
        f[i] = p;
        n[i] = static_cast<std::size_t>(tab - p);
        p = tab + 1;
    }
    return true;
}

bool is_true(const char *s, std::size_t n) noexcept { return n == 4 && std::strncmp(s, "TRUE", 4) == 0; }

bool no_memory(const char *fn) noexcept {
    ac_set_error("%s: out of memory", fn);
    return false;
}

// A text that goes into one field of a cookie line: no tab, line break or NUL.
bool field_text(yyjson_val *v, const char *key, bool required, const char *&out) noexcept {
    yyjson_val *m = yyjson_obj_get(v, key);
    out = yyjson_is_str(m) ? yyjson_get_str(m) : "";
    bool bad = (m && !yyjson_is_str(m)) || (required && !*out) || std::strpbrk(out, "\t\r\n") ||
               (m && std::strlen(out) != yyjson_get_len(m));
    if (bad) ac_set_error("api_cookies_add: '%s' must be a string%s without tabs or line breaks", key, required ? ", not empty," : "");
    return !bad;
}

}  // namespace

bool ac_cookies_prepare(CURL *h) noexcept {
    if (!ac_options().cookies) return true;
    // "": the engine on, reading no file.
    if (curl_easy_setopt(h, CURLOPT_COOKIEFILE, "") != CURLE_OK) return no_memory("api_request");
    for (curl_slist *l = s_jar.get(); l; l = l->next) {
        if (curl_easy_setopt(h, CURLOPT_COOKIELIST, l->data) != CURLE_OK) return no_memory("api_request");
    }
    return true;
}

void ac_cookies_keep(CURL *h) noexcept {
    if (!ac_options().cookies) return;
    curl_slist *list = nullptr;
    // A list that cannot be read leaves the jar as it was.
    if (curl_easy_getinfo(h, CURLINFO_COOKIELIST, &list) == CURLE_OK) s_jar.reset(list);
}

void ac_cookies_release() noexcept {
    s_jar.reset();
    s_jar_json.release();
}

extern "C" const char *api_cookies_json(void) noexcept {
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    JsonBuild b(doc.get());
    yyjson_mut_val *list = b.arr();
    for (curl_slist *l = s_jar.get(); l && b.ok(); l = l->next) {
        const char *f[7];
        std::size_t n[7];
        const char *line = l->data;
        bool http_only = std::strncmp(line, http_only_mark, sizeof http_only_mark - 1) == 0;
        if (http_only) line += sizeof http_only_mark - 1;
        if (!fields(line, f, n)) continue;
        yyjson_mut_val *c = b.obj();
        b.add_text(c, "name", f[5], n[5]);
        b.add_text(c, "value", f[6], n[6]);
        // A domain cookie's domain starts with "." in the file's form.
        bool host_only = !is_true(f[1], n[1]);
        b.add_text(c, "domain", f[0][0] == '.' ? f[0] + 1 : f[0], f[0][0] == '.' ? n[0] - 1 : n[0]);
        b.add_text(c, "path", f[2], n[2]);
        b.add(c, "secure", yyjson_mut_bool(doc.get(), is_true(f[3], n[3])));
        b.add(c, "http_only", yyjson_mut_bool(doc.get(), http_only));
        b.add(c, "host_only", yyjson_mut_bool(doc.get(), host_only));
        b.add(c, "expires", yyjson_mut_sint(doc.get(), std::strtoll(f[4], nullptr, 10)));
        b.append(list, c);
    }
    if (!b.ok()) return "[]";
    yyjson_mut_doc_set_root(doc.get(), list);
    std::size_t len = 0;
    unique_cstr text(yyjson_mut_write_opts(doc.get(), 0, ac_alc(), &len, nullptr));
    return text ? s_jar_json.set(text.get(), len, "[]") : "[]";
}

extern "C" void api_cookies_clear(void) noexcept { s_jar.reset(); }

extern "C" int api_cookies_add(const char *cookies_json) noexcept {
    unique_doc doc(ac_json_read_arg("api_cookies_add", "cookies_json", cookies_json, "invalid JSON"));
    if (!doc) return 0;
    yyjson_val *list = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(list)) {
        ac_set_error("api_cookies_add: cookies_json must be an array");
        return 0;
    }
    // Every line is made first: a bad cookie adds none of them.
    DynBuf lines;
    yyjson_val *c;
    yyjson_arr_iter it = yyjson_arr_iter_with(list);
    while ((c = yyjson_arr_iter_next(&it))) {
        const char *name, *value, *domain, *path;
        if (!yyjson_is_obj(c)) {
            ac_set_error("api_cookies_add: every cookie must be an object");
            return 0;
        }
        if (!field_text(c, "name", true, name) || !field_text(c, "value", false, value) ||
            !field_text(c, "domain", true, domain) || !field_text(c, "path", false, path))
            return 0;
        yyjson_val *expires = yyjson_obj_get(c, "expires");
        long long when = yyjson_is_int(expires) ? yyjson_get_sint(expires) : 0;
        bool host_only = !yyjson_is_false(yyjson_obj_get(c, "host_only"));
        lines.appendf("%s%s%s\t%s\t%s\t%s\t%lld\t%s\t%s\n", yyjson_is_true(yyjson_obj_get(c, "http_only")) ? http_only_mark : "",
                      host_only ? "" : ".", domain, host_only ? "FALSE" : "TRUE", *path ? path : "/",
                      yyjson_is_true(yyjson_obj_get(c, "secure")) ? "TRUE" : "FALSE", when, name, value);
    }
    if (!lines.ok()) {
        no_memory("api_cookies_add");
        return 0;
    }
    // All of them, or none: the new lines go in a list of their own first.
    curl_slist *added = nullptr;
    for (char *line = lines.data(); line && *line;) {
        char *end = std::strchr(line, '\n');
        *end = '\0';
        curl_slist *grown = curl_slist_append(added, line);
        if (!grown) {
            curl_slist_free_all(added);
            no_memory("api_cookies_add");
            return 0;
        }
        added = grown;
        line = end + 1;
    }
    curl_slist *tail = s_jar.get();
    while (tail && tail->next) tail = tail->next;
    if (tail) {
        tail->next = added;
    } else {
        s_jar.reset(added);
    }
    return 1;
}
