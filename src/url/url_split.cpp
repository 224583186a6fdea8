// A URL text split into the format's url parts, as the exports write them
// beside "raw".
#include "url/url.h"
#include "util/json_build.h"

namespace {

struct Span {
    std::size_t begin;
    std::size_t end;
};

struct UrlParts {
    JsonBuild &b;
    yyjson_mut_val *obj;
    const char *s;
    PlaceholderScan &scan;

    yyjson_mut_val *str(Span p) noexcept { return b.text(s + p.begin, p.end - p.begin); }
    void member(const char *key, Span p) noexcept { b.add(obj, key, str(p)); }
    // Array of the pieces of [from, to) between separators `sep`.
    void pieces(const char *key, std::size_t from, std::size_t to, const char *sep, bool brackets = false) noexcept {
        yyjson_mut_val *arr = b.arr();
        for (std::size_t at = from; b.ok();) {
            std::size_t e = scan.find(at, to, sep, brackets);
            b.append(arr, str({at, e}));
            if (e >= to) break;
            at = e + 1;
        }
        b.add(obj, key, arr);
    }
    void query(std::size_t from, std::size_t to) noexcept {
        yyjson_mut_val *arr = b.arr();
        for (std::size_t at = from; b.ok();) {
            std::size_t e = scan.find(at, to, "&");
            std::size_t eq = scan.find(at, e, "=");
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

}  // namespace

bool ac_url_split(yyjson_mut_doc *doc, yyjson_mut_val *url, const char *raw, std::size_t len) noexcept {
    std::size_t from = 0, to = len;
    while (from < to && is_blank(raw[from])) ++from;
    while (to > from && is_blank(raw[to - 1])) --to;
    if (from == to) return true;

    PlaceholderScan scan(raw, to);
    JsonBuild b(doc);
    UrlParts u{b, url, raw, scan};
    std::size_t hash = scan.find(from, to, "#");
    std::size_t query = scan.find(from, hash, "?");

    std::size_t start = from;
    std::size_t colon = scan.find(from, query, ":/");
    if (colon > from && colon + 2 < query && raw[colon] == ':' && raw[colon + 1] == '/' && raw[colon + 2] == '/') {
        u.member("protocol", {from, colon});
        start = colon + 3;
    }

    std::size_t slash = scan.find(start, query, "/");
    std::size_t at = scan.find_last(start, slash, "@");
    if (at < slash) {
        std::size_t sep = scan.find(start, at, ":");
        yyjson_mut_val *auth = b.obj();
        b.add(url, "auth", auth);
        b.add(auth, "user", u.str({start, sep}));
        if (sep < at) b.add(auth, "password", u.str({sep + 1, at}));
        start = at + 1;
    }
    std::size_t port = scan.find_last(start, slash, ":", true);
    if (port > start) u.pieces("host", start, port, ".", true);
    if (port < slash) u.member("port", {port + 1, slash});
    if (slash < query) u.pieces("path", slash + 1, query, "/");
    if (query < hash) u.query(query + 1, hash);
    if (hash < to) u.member("hash", {hash + 1, to});
    return b.ok();
}
