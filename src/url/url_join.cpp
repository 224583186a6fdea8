// The URL of a url object's parts, joined as the runner joins them: Postman's
// tools ignore "raw" when they send a request and build the URL from the parts.
#include <cstring>

#include "url/url.h"
#include "util/util.h"

namespace {

bool nonempty(yyjson_val *v) noexcept {
    if (yyjson_is_str(v)) return yyjson_get_len(v) > 0;
    if (yyjson_is_arr(v)) return yyjson_arr_size(v) > 0;
    return yyjson_is_num(v);
}

bool append_scalar(DynBuf &out, yyjson_val *v) noexcept {
    char scratch[40];
    std::size_t len = 0;
    const char *text = ac_json_scalar(v, &len, scratch);
    return !text || out.append(text, len);
}

// Escapes what would end a query key or value taken from the url's parts.
bool append_query_text(DynBuf &out, yyjson_val *v, bool key) noexcept {
    char scratch[40];
    std::size_t len = 0;
    const char *s = ac_json_scalar(v, &len, scratch);
    if (!s) return true;
    PlaceholderScan scan(s, len);
    for (std::size_t i = 0; i < len;) {
        if (std::size_t e = scan.end_at(i)) {
            if (!out.append(s + i, e - i)) return false;
            i = e;
            continue;
        }
        char c = s[i++];
        const char *esc = c == '&' ? "%26" : c == '#' ? "%23" : key && c == '=' ? "%3D" : nullptr;
        if (!(esc ? out.append(esc) : out.append_byte(c))) return false;
    }
    return true;
}

// The value of a ":name" path segment from the url's "variable" entries. One
// that is empty or missing leaves ":name" in the path, as the runner sends it.
yyjson_val *path_variable(yyjson_val *variables, yyjson_val *segment) noexcept {
    if (!yyjson_is_str(segment) || yyjson_get_len(segment) < 2 || yyjson_get_str(segment)[0] != ':') return nullptr;
    const char *name = yyjson_get_str(segment) + 1;
    std::size_t len = yyjson_get_len(segment) - 1;
    yyjson_val *var;
    yyjson_arr_iter it = yyjson_arr_iter_with(variables);
    while ((var = yyjson_arr_iter_next(&it))) {
        yyjson_val *key = yyjson_obj_get(var, "key");
        if (yyjson_is_str(key) && yyjson_get_len(key) == len && std::memcmp(yyjson_get_str(key), name, len) == 0) {
            yyjson_val *value = yyjson_obj_get(var, "value");
            return (yyjson_is_str(value) && yyjson_get_len(value) > 0) || yyjson_is_num(value) ? value : nullptr;
        }
    }
    return nullptr;
}

bool join_authority(DynBuf &out, yyjson_val *url) noexcept {
    bool ok = true;
    yyjson_val *protocol = yyjson_obj_get(url, "protocol");
    if (yyjson_is_str(protocol) && yyjson_get_len(protocol) > 0) {
        std::size_t n = yyjson_get_len(protocol);
        const char *p = yyjson_get_str(protocol);
        while (n > 0 && (p[n - 1] == '/' || p[n - 1] == ':')) --n;
        ok = out.append(p, n) && out.append("://");
    }
    yyjson_val *auth = yyjson_obj_get(url, "auth");
    if (yyjson_is_str(yyjson_obj_get(auth, "user")) && yyjson_get_len(yyjson_obj_get(auth, "user")) > 0) {
        ok = ok && append_scalar(out, yyjson_obj_get(auth, "user"));
        if (yyjson_is_str(yyjson_obj_get(auth, "password")))
            ok = ok && out.append_byte(':') && append_scalar(out, yyjson_obj_get(auth, "password"));
        ok = ok && out.append_byte('@');
    }
    yyjson_val *host = yyjson_obj_get(url, "host");
    if (yyjson_is_arr(host)) {
        yyjson_val *label;
        yyjson_arr_iter it = yyjson_arr_iter_with(host);
        for (bool first = true; ok && (label = yyjson_arr_iter_next(&it)); first = false)
            ok = (first || out.append_byte('.')) && append_scalar(out, label);
    } else {
        ok = ok && append_scalar(out, host);
    }
    yyjson_val *port = yyjson_obj_get(url, "port");
    if (nonempty(port)) ok = ok && out.append_byte(':') && append_scalar(out, port);
    return ok;
}

bool join_path(DynBuf &out, yyjson_val *url) noexcept {
    yyjson_val *path = yyjson_obj_get(url, "path");
    yyjson_val *variables = yyjson_obj_get(url, "variable");
    bool ok = true;
    if (yyjson_is_arr(path)) {
        yyjson_val *seg;
        yyjson_arr_iter it = yyjson_arr_iter_with(path);
        while (ok && (seg = yyjson_arr_iter_next(&it))) {
            // Segments are strings, or objects whose "value" holds the text.
            if (yyjson_is_obj(seg)) seg = yyjson_obj_get(seg, "value");
            yyjson_val *value = path_variable(variables, seg);
            ok = out.append_byte('/') && append_scalar(out, value ? value : seg);
        }
    } else if (yyjson_is_str(path) && yyjson_get_len(path) > 0) {
        ok = (yyjson_get_str(path)[0] == '/' || out.append_byte('/')) && append_scalar(out, path);
    }
    return ok;
}

bool join_query(DynBuf &out, yyjson_val *url) noexcept {
    yyjson_val *query = yyjson_obj_get(url, "query");
    if (yyjson_is_str(query)) return yyjson_get_len(query) == 0 || (out.append_byte('?') && append_scalar(out, query));
    std::size_t mark = out.len();
    bool ok = true, first = true;
    yyjson_val *param;
    yyjson_arr_iter it = yyjson_arr_iter_with(query);
    while (ok && (param = yyjson_arr_iter_next(&it))) {
        if (!yyjson_is_obj(param) || yyjson_is_true(yyjson_obj_get(param, "disabled"))) continue;
        ok = out.append_byte(first ? '?' : '&') && append_query_text(out, yyjson_obj_get(param, "key"), true);
        first = false;
        yyjson_val *value = yyjson_obj_get(param, "value");
        if (ok && (yyjson_is_str(value) || yyjson_is_num(value) || yyjson_is_bool(value)))
            ok = out.append_byte('=') && append_query_text(out, value, false);
    }
    if (ok && out.len() == mark + 1) out.truncate(mark);  // entries that join to nothing add no "?"
    return ok;
}

}  // namespace

bool ac_url_join(DynBuf &out, yyjson_val *url, bool with_hash) noexcept {
    if (!(join_authority(out, url) && join_path(out, url) && join_query(out, url))) return false;
    yyjson_val *hash = yyjson_obj_get(url, "hash");
    if (with_hash && yyjson_is_str(hash) && yyjson_get_len(hash) > 0) return out.append_byte('#') && append_scalar(out, hash);
    return true;
}
