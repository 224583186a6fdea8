// Splitting a URL into Postman's url parts and joining parts back into a URL.
// Postman's tools ignore "raw" when they send a request and build the URL
// from the parts, so exported files carry both.
#include <cstdint>
#include <cstring>

#include "postman/postman.h"
#include "util/dynbuf.h"
#include "util/json_build.h"
#include "util/util.h"

namespace {

struct Span {
    std::size_t begin;
    std::size_t end;
};

bool is_stop(char c, const char *stops) noexcept {
    for (; *stops; ++stops) {
        if (*stops == c) return true;
    }
    return false;
}

// Finds separators outside {{name}} placeholders (and [IPv6] literals). The
// next closing mark is remembered, so that a URL full of unclosed "{{" or "["
// is still scanned in linear time.
struct Scanner {
    const char *s;
    std::size_t len;
    std::size_t braces_from = SIZE_MAX;  // the first "}}" at or after braces_from is at braces_at
    std::size_t braces_at = 0;
    std::size_t bracket_from = SIZE_MAX;  // likewise for "]"
    std::size_t bracket_at = 0;

    std::size_t next_braces(std::size_t k) noexcept {
        if (k < braces_from || k > braces_at) {
            braces_from = k;
            braces_at = len;
            for (std::size_t p = k; p + 1 < len; ++p) {
                if (s[p] == '}' && s[p + 1] == '}') {
                    braces_at = p;
                    break;
                }
            }
        }
        return braces_at;
    }
    std::size_t next_bracket(std::size_t k) noexcept {
        if (k < bracket_from || k > bracket_at) {
            bracket_from = k;
            const void *close = std::memchr(s + k, ']', len - k);
            bracket_at = close ? static_cast<std::size_t>(static_cast<const char *>(close) - s) : len;
        }
        return bracket_at;
    }

    // Index of the first byte in [from, to) that is one of `stops`; `to` when none.
    std::size_t scan(std::size_t from, std::size_t to, const char *stops, bool brackets = false) noexcept {
        std::size_t i = from;
        while (i < to) {
            if (s[i] == '{' && i + 1 < to && s[i + 1] == '{') {
                std::size_t close = next_braces(i + 2);
                if (close + 1 < to) {
                    i = close + 2;
                    continue;
                }
            }
            if (brackets && s[i] == '[') {
                std::size_t close = next_bracket(i + 1);
                if (close < to) {
                    i = close + 1;
                    continue;
                }
            }
            if (is_stop(s[i], stops)) return i;
            ++i;
        }
        return to;
    }

    // Index of the last `stop` in [from, to), or `to`.
    std::size_t scan_last(std::size_t from, std::size_t to, const char *stop, bool brackets = false) noexcept {
        std::size_t last = to;
        for (std::size_t i = scan(from, to, stop, brackets); i < to; i = scan(i + 1, to, stop, brackets)) last = i;
        return last;
    }
};

struct UrlParts {
    JsonBuild &b;
    yyjson_mut_val *obj;
    const char *s;
    Scanner &scanner;

    yyjson_mut_val *str(Span p) noexcept { return b.text(s + p.begin, p.end - p.begin); }
    void member(const char *key, Span p) noexcept { b.add(obj, key, str(p)); }
    // Array of the pieces of [from, to) between separators `sep`.
    void pieces(const char *key, std::size_t from, std::size_t to, const char *sep, bool brackets = false) noexcept {
        yyjson_mut_val *arr = b.arr();
        for (std::size_t at = from; b.ok();) {
            std::size_t e = scanner.scan(at, to, sep, brackets);
            b.append(arr, str({at, e}));
            if (e >= to) break;
            at = e + 1;
        }
        b.add(obj, key, arr);
    }
    void query(std::size_t from, std::size_t to) noexcept {
        yyjson_mut_val *arr = b.arr();
        for (std::size_t at = from; b.ok();) {
            std::size_t e = scanner.scan(at, to, "&");
            std::size_t eq = scanner.scan(at, e, "=");
            yyjson_mut_val *entry = b.obj();
            b.append(arr, entry);
            b.add(entry, "key", at == e ? yyjson_mut_null(b.doc()) : str({at, eq}));
            b.add(entry, "value", eq < e ? str({eq + 1, e}) : yyjson_mut_null(b.doc()));
            if (e >= to) break;
            at = e + 1;
        }
        b.add(obj, "query", arr);
    }
};

bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void append_str(DynBuf &out, yyjson_val *v) noexcept {
    if (yyjson_is_str(v)) out.append(yyjson_get_str(v), yyjson_get_len(v));
}

bool nonempty_str(yyjson_val *v) noexcept { return yyjson_is_str(v) && yyjson_get_len(v) > 0; }

void append_segment(DynBuf &out, yyjson_val *seg) noexcept {
    // Path segments are strings, or objects whose "value" holds the text.
    append_str(out, yyjson_is_obj(seg) ? yyjson_obj_get(seg, "value") : seg);
}

void append_port(DynBuf &out, yyjson_val *port) noexcept {
    if (nonempty_str(port)) {
        out.append(":");
        append_str(out, port);
    } else if (yyjson_is_uint(port)) {
        out.appendf(":%llu", static_cast<unsigned long long>(yyjson_get_uint(port)));
    } else if (yyjson_is_sint(port)) {
        out.appendf(":%lld", static_cast<long long>(yyjson_get_sint(port)));
    }
}

void append_query(DynBuf &out, yyjson_val *query) noexcept {
    if (yyjson_is_str(query)) {
        if (yyjson_get_len(query)) {
            out.append("?");
            append_str(out, query);
        }
        return;
    }
    std::size_t mark = out.len();
    out.append("?");
    bool first = true;
    yyjson_val *param;
    yyjson_arr_iter it = yyjson_arr_iter_with(query);
    while ((param = yyjson_arr_iter_next(&it))) {
        if (!yyjson_is_obj(param) || yyjson_is_true(yyjson_obj_get(param, "disabled"))) continue;
        if (!first) out.append("&");
        first = false;
        append_str(out, yyjson_obj_get(param, "key"));
        yyjson_val *value = yyjson_obj_get(param, "value");
        if (yyjson_is_str(value)) {
            out.append("=");
            append_str(out, value);
        }
    }
    // A query whose entries join to nothing adds no "?".
    if (out.ok() && out.len() == mark + 1) out.truncate(mark);
}

}  // namespace

bool ac_postman_add_url_parts(yyjson_mut_doc *doc, yyjson_mut_val *url, const char *raw, std::size_t len) noexcept {
    std::size_t from = 0, to = len;
    while (from < to && is_blank(raw[from])) ++from;
    while (to > from && is_blank(raw[to - 1])) --to;
    if (from == to) return true;

    Scanner scanner{raw, to};
    JsonBuild b(doc);
    UrlParts u{b, url, raw, scanner};
    std::size_t hash = scanner.scan(from, to, "#");
    std::size_t query = scanner.scan(from, hash, "?");

    std::size_t start = from;
    std::size_t colon = scanner.scan(from, query, ":/");
    if (colon > from && colon + 2 < query && raw[colon] == ':' && raw[colon + 1] == '/' && raw[colon + 2] == '/') {
        u.member("protocol", {from, colon});
        start = colon + 3;
    }

    std::size_t slash = scanner.scan(start, query, "/");
    std::size_t at = scanner.scan_last(start, slash, "@");
    if (at < slash) {
        std::size_t sep = scanner.scan(start, at, ":");
        yyjson_mut_val *auth = b.obj();
        b.add(url, "auth", auth);
        b.add(auth, "user", u.str({start, sep}));
        if (sep < at) b.add(auth, "password", u.str({sep + 1, at}));
        start = at + 1;
    }
    std::size_t port = scanner.scan_last(start, slash, ":", true);
    if (port > start) u.pieces("host", start, port, ".", true);
    if (port < slash) u.member("port", {port + 1, slash});
    if (slash < query) u.pieces("path", slash + 1, query, "/");
    if (query < hash) u.query(query + 1, hash);
    if (hash < to) u.member("hash", {hash + 1, to});
    return b.ok();
}

char *ac_postman_url_from_parts(yyjson_val *url, std::size_t *len_out) noexcept {
    DynBuf out;
    out.reserve(0);
    yyjson_val *protocol = yyjson_obj_get(url, "protocol");
    if (nonempty_str(protocol)) {
        append_str(out, protocol);
        std::size_t n = yyjson_get_len(protocol);
        if (n < 3 || std::memcmp(yyjson_get_str(protocol) + n - 3, "://", 3) != 0) out.append("://");
    }
    yyjson_val *auth = yyjson_obj_get(url, "auth");
    if (nonempty_str(yyjson_obj_get(auth, "user"))) {
        append_str(out, yyjson_obj_get(auth, "user"));
        if (yyjson_is_str(yyjson_obj_get(auth, "password"))) {
            out.append(":");
            append_str(out, yyjson_obj_get(auth, "password"));
        }
        out.append("@");
    }
    yyjson_val *host = yyjson_obj_get(url, "host");
    if (yyjson_is_arr(host)) {
        yyjson_val *label;
        yyjson_arr_iter it = yyjson_arr_iter_with(host);
        for (bool first = true; (label = yyjson_arr_iter_next(&it)); first = false) {
            if (!first) out.append(".");
            append_str(out, label);
        }
    } else {
        append_str(out, host);
    }
    append_port(out, yyjson_obj_get(url, "port"));
    yyjson_val *path = yyjson_obj_get(url, "path");
    if (yyjson_is_arr(path)) {
        yyjson_val *seg;
        yyjson_arr_iter it = yyjson_arr_iter_with(path);
        while ((seg = yyjson_arr_iter_next(&it))) {
            out.append("/");
            append_segment(out, seg);
        }
    } else if (nonempty_str(path)) {
        if (yyjson_get_str(path)[0] != '/') out.append("/");
        append_str(out, path);
    }
    append_query(out, yyjson_obj_get(url, "query"));
    yyjson_val *hash = yyjson_obj_get(url, "hash");
    if (nonempty_str(hash)) {
        out.append("#");
        append_str(out, hash);
    }
    if (!out.ok()) return nullptr;
    if (len_out) *len_out = out.len();
    return out.take();
}
