#include <cstdlib>
#include <cstring>

#include "env/env.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

constexpr std::size_t max_name_len = 255;

// Output buffer that doubles when it runs short; on failure the caller falls
// back to an unexpanded copy.
struct Output {
    char *buf;
    std::size_t len;
    std::size_t cap;

    bool reserve(std::size_t extra) noexcept {
        while (len + extra >= cap) {
            char *grown = static_cast<char *>(std::realloc(buf, cap * 2));
            if (!grown) return false;
            buf = grown;
            cap *= 2;
        }
        return true;
    }
};

// Value of the placeholder whose name starts at p (after "{{"), or null when it
// does not expand. *after receives the position behind the closing "}}".
const char *placeholder_value(const char *p, const char **after) noexcept {
    const char *close = std::strstr(p, "}}");
    if (!close || static_cast<std::size_t>(close - p) > max_name_len) return nullptr;
    const char *b = p, *e = close;
    while (b < e && *b == ' ') ++b;
    while (e > b && e[-1] == ' ') --e;
    if (b == e) return nullptr;
    char name[max_name_len + 1];
    std::memcpy(name, b, static_cast<std::size_t>(e - b));
    name[e - b] = '\0';
    const char *value = api_env_get(name);
    if (!*value) return nullptr;
    *after = close + 2;
    return value;
}

}  // namespace

char *ac_env_substitute(const char *text) noexcept {
    if (!text) return ac_strdup("");
    if (!std::strstr(text, "{{")) return ac_strdup(text);

    std::size_t in_len = std::strlen(text);
    Output out{static_cast<char *>(std::malloc(in_len * 2 + 256)), 0, in_len * 2 + 256};
    if (!out.buf) return ac_strdup(text);

    const char *p = text;
    while (*p) {
        if (p[0] == '{' && p[1] == '{') {
            const char *after = nullptr;
            if (const char *value = placeholder_value(p + 2, &after)) {
                std::size_t n = std::strlen(value);
                if (!out.reserve(n + 1)) break;
                std::memcpy(out.buf + out.len, value, n);
                out.len += n;
                p = after;
                continue;
            }
        }
        if (!out.reserve(2)) break;
        out.buf[out.len++] = *p++;
    }
    if (*p) {  // a reallocation failed
        std::free(out.buf);
        return ac_strdup(text);
    }
    out.buf[out.len] = '\0';
    return out.buf;
}
