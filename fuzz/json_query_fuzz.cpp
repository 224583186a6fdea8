// api_json_query with a fuzzed path over a fuzzed response body (the input
// is path NUL body; the body is put where a response would leave it).
// Invariant: the result is exactly the compact JSON of the value that the
// documented rules select, worked out independently: a JSON Pointer, else a
// dotted path ("$.a[0]", ".a.0"), else a top-level key; "" when none matches.
#include <algorithm>
#include <cstdint>
#include <string>

#include "apiclient/response.h"
#include "quorvane_apiclient.h"
#include "support.h"

namespace {

// A converted dotted path keeps at most this many characters.
constexpr std::size_t pointer_limit = 510;

// ".a[0].b" -> "/a/0/b": '.' and '[' start a token, ']' closes one; the
// text after an unclosed '[' is dropped.
std::string pointer_of(const std::string &dotted) {
    std::string out;
    for (std::size_t i = 0; i < dotted.size() && out.size() < pointer_limit;) {
        char c = dotted[i];
        if (c == '[') {
            out += '/';
            std::size_t close = dotted.find(']', i + 1);
            std::size_t end = close == std::string::npos ? dotted.size() : close;
            std::size_t take = std::min(end - i - 1, pointer_limit - out.size());
            out += dotted.substr(i + 1, take);
            if (close == std::string::npos || take < end - i - 1) break;
            i = close + 1;
        } else {
            out += c == '.' ? '/' : c;
            ++i;
        }
    }
    return out;
}

yyjson_val *select(yyjson_val *root, const std::string &path) {
    yyjson_val *found = nullptr;
    if (path[0] == '/') {
        found = yyjson_ptr_getn(root, path.data(), path.size());
    } else if (path[0] == '.' || path.rfind("$.", 0) == 0) {
        std::string pointer = pointer_of(path[0] == '$' ? path.substr(1) : path);
        found = yyjson_ptr_getn(root, pointer.data(), pointer.size());
    }
    if (!found && yyjson_is_obj(root)) found = yyjson_obj_getn(root, path.data(), path.size());
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_reset();
    auto pieces = fuzz_split(data, size, 2);
    if (pieces.size() < 2) return 0;
    std::string path(pieces[0]);
    std::string_view body = pieces[1];
    FUZZ_CHECK(g_response_body.append(body.data(), body.size()), "cannot set the response body");

    std::string got = api_json_query(path.c_str());
    std::string want;
    // A body that starts with NUL reads as none; otherwise all its bytes are parsed.
    FuzzDoc doc = fuzz_parse(body);
    if (!path.empty() && !body.empty() && body[0] != '\0' && doc) {
        want = fuzz_json(select(yyjson_doc_get_root(doc.get()), path));
    }
    FUZZ_CHECK(got == want, "query '" + path + "' gave " + got + "\nexpected " + want);
    if (!got.empty()) FUZZ_CHECK(fuzz_parse(got) != nullptr, "the result is not JSON: " + got);
    // Nothing of the query stays behind: the same query gives the same text.
    FUZZ_CHECK(api_json_query(path.c_str()) == got, "a repeated query gave another result");
    return 0;
}
