// URLs as the runner sends them.
#include <cstring>
#include <initializer_list>

#include "postman/postman_full.h"

namespace {

bool alnum(unsigned char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool nonempty(yyjson_val *v) noexcept {
    if (yyjson_is_str(v)) return yyjson_get_len(v) > 0;
    if (yyjson_is_arr(v)) return yyjson_arr_size(v) > 0;
    return yyjson_is_num(v);
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
    PlaceholderScan braces(s, len);
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
        ok = ok && ac_url_encode(out, s + start, colon - start, UrlSet::userinfo);
        if (colon < at - 1) ok = ok && out.append_byte(':') && ac_url_encode(out, s + colon + 1, at - 2 - colon, UrlSet::userinfo);
        ok = ok && out.append_byte('@');
    } else {
        ok = ok && out.append(s + start, at - start);
    }
    ok = ok && out.append(s + at, path - at);
    if (encode) {
        ok = ok && ac_url_encode(out, s + path, query - path, UrlSet::path) &&
             ac_url_encode(out, s + query, end - query, UrlSet::query);
    } else {
        ok = ok && out.append(s + path, end - path);
    }
    return ok;
}

}  // namespace

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
    return ac_url_join(joined, url, false) && normalise(out, joined.c_str(), joined.len(), encode);
}
