// URLs as the runner sends them, and the percent-encodings it uses.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "postman/postman_full.h"

namespace {

// Ends of {{name}} placeholders. The next "}}" is remembered, so that a text
// full of unclosed "{{" is still scanned once.
struct Braces {
    const char *s;
    std::size_t len;
    std::size_t from = SIZE_MAX;
    std::size_t close = 0;

    // End (past "}}") of the placeholder opening at i, or 0 when none opens there.
    std::size_t end_at(std::size_t i) noexcept {
        if (i + 1 >= len || s[i] != '{' || s[i + 1] != '{') return 0;
        std::size_t k = i + 2;
        if (from == SIZE_MAX || k < from || k > close) {
            from = k;
            close = len;
            for (std::size_t p = k; p + 1 < len; ++p) {
                if (s[p] == '}' && s[p + 1] == '}') {
                    close = p;
                    break;
                }
            }
        }
        return close < len ? close + 2 : 0;
    }
    // First of `stops` in [i, to) outside placeholders, or `to`.
    std::size_t find(std::size_t i, std::size_t to, const char *stops) noexcept {
        while (i < to) {
            if (std::size_t e = end_at(i); e && e <= to) {
                i = e;
                continue;
            }
            if (s[i] && std::strchr(stops, s[i])) return i;
            ++i;
        }
        return to;
    }
};

// Copies placeholders as they are and hands every other byte, at i, to
// `step`, which appends what it makes of it and moves i on.
template <typename Step>
bool outside_placeholders(DynBuf &out, const char *s, std::size_t len, Step step) noexcept {
    Braces braces{s, len};
    for (std::size_t i = 0; i < len;) {
        if (std::size_t e = braces.end_at(i)) {
            if (!out.append(s + i, e - i)) return false;
            i = e;
        } else if (!step(i)) {
            return false;
        }
    }
    return true;
}

bool alnum(unsigned char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool needs_encoding(unsigned char c, PmSet set) noexcept {
    if (c <= 0x20 || c >= 0x7F) return true;
    switch (set) {
    case PmSet::query:
        return std::strchr("\"#<>'", c) != nullptr;
    case PmSet::path:
        return std::strchr("\"#<>?`{}", c) != nullptr;
    case PmSet::userinfo:
        return std::strchr("\"#<>?`{}/:;=@[\\]^|", c) != nullptr;
    case PmSet::component:
        return !alnum(c) && !std::strchr("-_.!~*'()", c);
    case PmSet::form:
        return !alnum(c) && !std::strchr("-_.~", c);
    }
    return true;
}

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool nonempty(yyjson_val *v) noexcept {
    if (yyjson_is_str(v)) return yyjson_get_len(v) > 0;
    if (yyjson_is_arr(v)) return yyjson_arr_size(v) > 0;
    return yyjson_is_num(v);
}

bool append_scalar(DynBuf &out, yyjson_val *v) noexcept {
    char scratch[40];
    std::size_t len = 0;
    const char *text = ac_pm_scalar(v, &len, scratch);
    return !text || out.append(text, len);
}

// Escapes what would end a query key or value taken from the url's parts.
bool append_query_text(DynBuf &out, yyjson_val *v, bool key) noexcept {
    char scratch[40];
    std::size_t len = 0;
    const char *s = ac_pm_scalar(v, &len, scratch);
    if (!s) return true;
    return outside_placeholders(out, s, len, [&](std::size_t &i) {
        char c = s[i++];
        const char *esc = c == '&' ? "%26" : c == '#' ? "%23" : key && c == '=' ? "%3D" : nullptr;
        return esc ? out.append(esc) : out.append_byte(c);
    });
}

// A path segment ":name" filled from the url's "variable" entries that have a value.
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
            return yyjson_is_str(value) || yyjson_is_num(value) ? value : nullptr;
        }
    }
    return nullptr;
}

// The URL text of the parts, before it is normalised like any URL text.
bool join_parts(DynBuf &out, yyjson_val *url) noexcept {
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
    yyjson_val *path = yyjson_obj_get(url, "path");
    yyjson_val *variables = yyjson_obj_get(url, "variable");
    if (yyjson_is_arr(path)) {
        yyjson_val *seg;
        yyjson_arr_iter it = yyjson_arr_iter_with(path);
        while (ok && (seg = yyjson_arr_iter_next(&it))) {
            if (yyjson_is_obj(seg)) seg = yyjson_obj_get(seg, "value");
            yyjson_val *value = path_variable(variables, seg);
            ok = out.append_byte('/') && append_scalar(out, value ? value : seg);
        }
    } else if (yyjson_is_str(path) && yyjson_get_len(path) > 0) {
        ok = ok && (yyjson_get_str(path)[0] == '/' || out.append_byte('/')) && append_scalar(out, path);
    }
    yyjson_val *query = yyjson_obj_get(url, "query");
    std::size_t mark = out.len();
    bool first = true;
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
    if (ok && yyjson_is_str(query) && yyjson_get_len(query) > 0)
        ok = out.append_byte('?') && append_scalar(out, query);
    return ok;
}

bool has_parts(yyjson_val *url) noexcept {
    for (const char *key : {"protocol", "host", "port", "path"}) {
        if (nonempty(yyjson_obj_get(url, key))) return true;
    }
    return nonempty(yyjson_obj_get(url, "query"));
}

bool has_scheme(const char *s, std::size_t len) noexcept {
    std::size_t i = 0;
    if (len == 0 || !((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) return false;
    while (i < len && (alnum(static_cast<unsigned char>(s[i])) || s[i] == '+' || s[i] == '-' || s[i] == '.')) ++i;
    return i + 2 < len && s[i] == ':' && s[i + 1] == '/' && s[i + 2] == '/';
}

bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Normalises URL text the way the runner does before it sends it.
bool normalise(DynBuf &out, const char *s, std::size_t len, bool encode) noexcept {
    std::size_t from = 0;
    while (from < len && is_blank(s[from])) ++from;
    while (len > from && is_blank(s[len - 1])) --len;
    if (from == len) return true;
    Braces braces{s, len};
    std::size_t end = braces.find(from, len, "#");  // the fragment is never sent
    std::size_t start = from;
    bool ok = true;
    if (has_scheme(s + from, end - from)) {
        start = static_cast<std::size_t>(static_cast<const char *>(std::memchr(s + from, ':', end - from)) - s) + 3;
        ok = out.append(s + from, start - from);
    } else if (!(end - from >= 2 && s[from] == '{' && s[from + 1] == '{')) {
        // A leading placeholder may hold the scheme; libcurl takes a URL
        // without one as http anyway.
        ok = out.append("http://");
    }
    std::size_t path = braces.find(start, end, "/\\?");
    std::size_t query = braces.find(path, end, "?");
    std::size_t at = start;
    for (std::size_t i = braces.find(start, path, "@"); i < path; i = braces.find(i + 1, path, "@")) at = i + 1;
    if (at > start && encode) {
        std::size_t colon = braces.find(start, at - 1, ":");
        ok = ok && ac_pm_encode(out, s + start, colon - start, PmSet::userinfo);
        if (colon < at - 1) ok = ok && out.append_byte(':') && ac_pm_encode(out, s + colon + 1, at - 2 - colon, PmSet::userinfo);
        ok = ok && out.append_byte('@');
    } else {
        ok = ok && out.append(s + start, at - start);
    }
    ok = ok && out.append(s + at, path - at);
    if (encode) {
        ok = ok && ac_pm_encode(out, s + path, query - path, PmSet::path) &&
             ac_pm_encode(out, s + query, end - query, PmSet::query);
    } else {
        ok = ok && out.append(s + path, end - path);
    }
    return ok;
}

}  // namespace

bool ac_pm_encode(DynBuf &out, const char *s, std::size_t len, PmSet set) noexcept {
    return outside_placeholders(out, s, len, [&](std::size_t &i) {
        auto c = static_cast<unsigned char>(s[i++]);
        return out.append_url_byte(c, needs_encoding(c, set), set == PmSet::path);
    });
}

bool ac_pm_decode(DynBuf &out, const char *s, std::size_t len, bool plus_is_space) noexcept {
    return outside_placeholders(out, s, len, [&](std::size_t &i) {
        char c = s[i++];
        if (c == '%' && i + 1 < len && hex_value(s[i]) >= 0 && hex_value(s[i + 1]) >= 0) {
            c = static_cast<char>(hex_value(s[i]) * 16 + hex_value(s[i + 1]));
            i += 2;
        } else if (c == '+' && plus_is_space) {
            c = ' ';
        }
        return out.append_byte(c);
    });
}

std::size_t ac_pm_find(const char *s, std::size_t from, std::size_t to, const char *stops) noexcept {
    return Braces{s, to}.find(from, to, stops);
}

const char *ac_pm_scalar(yyjson_val *v, std::size_t *len, char (&scratch)[40]) noexcept {
    int n = -1;
    if (yyjson_is_str(v)) {
        *len = yyjson_get_len(v);
        return yyjson_get_str(v);
    }
    if (yyjson_is_bool(v)) {
        *len = yyjson_get_bool(v) ? 4 : 5;
        return yyjson_get_bool(v) ? "true" : "false";
    }
    if (yyjson_is_uint(v)) n = std::snprintf(scratch, sizeof scratch, "%" PRIu64, yyjson_get_uint(v));
    if (yyjson_is_sint(v)) n = std::snprintf(scratch, sizeof scratch, "%" PRId64, yyjson_get_sint(v));
    if (yyjson_is_real(v)) n = std::snprintf(scratch, sizeof scratch, "%.17g", yyjson_get_real(v));
    if (n < 0) return nullptr;
    *len = static_cast<std::size_t>(n) < sizeof scratch ? static_cast<std::size_t>(n) : sizeof scratch - 1;
    return scratch;
}

bool ac_pm_json_string(DynBuf &out, const char *s, std::size_t len) noexcept {
    static const char hex[] = "0123456789abcdef";
    if (!out.append_byte('"')) return false;
    std::size_t run = 0;  // plain bytes go in one piece
    for (std::size_t i = 0; i < len; ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        const char *esc = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r"
                        : c == '\t' ? "\\t" : c == '\b' ? "\\b" : c == '\f' ? "\\f" : nullptr;
        if (!esc && c >= 0x20) continue;
        if (!out.append(s + run, i - run)) return false;
        char u[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
        if (!(esc ? out.append(esc) : out.append(u, 6))) return false;
        run = i + 1;
    }
    return out.append(s + run, len - run) && out.append_byte('"');
}

bool ac_pm_build_url(DynBuf &out, yyjson_val *url, bool encode, bool *raw_only) noexcept {
    *raw_only = false;
    if (yyjson_is_str(url)) return normalise(out, yyjson_get_str(url), yyjson_get_len(url), encode);
    if (!yyjson_is_obj(url)) return true;
    if (!has_parts(url)) {
        yyjson_val *raw = yyjson_obj_get(url, "raw");
        if (!yyjson_is_str(raw)) return true;
        *raw_only = true;
        return normalise(out, yyjson_get_str(raw), yyjson_get_len(raw), encode);
    }
    DynBuf joined;
    return join_parts(joined, url) && normalise(out, joined.c_str(), joined.len(), encode);
}
