#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "env/dynamic_vars.h"
#include "env/env.h"
#include "quorvane_apiclient.h"
#include "util/dynbuf.h"
#include "util/util.h"

namespace {

constexpr std::size_t max_name_len = 255;

// The first "}}" within the longest name that can match; a name longer than
// that never expands, so looking further would only make the pass quadratic.
const char *find_close(const char *p) noexcept {
    for (std::size_t i = 0; i <= max_name_len && p[i]; ++i) {
        if (p[i] == '}' && p[i + 1] == '}') return p + i;
    }
    return nullptr;
}

// Value of the placeholder whose name starts at p (after "{{"), or null when it
// does not expand. *after receives the position behind the closing "}}". A
// dynamic value is drawn into `fresh`, anew for each occurrence.
const char *placeholder_value(const char *p, const char **after, char (&fresh)[dynamic_value_size]) noexcept {
    const char *close = find_close(p);
    if (!close) return nullptr;
    const char *b = p, *e = close;
    while (b < e && *b == ' ') ++b;
    while (e > b && e[-1] == ' ') --e;
    if (b == e) return nullptr;
    char name[max_name_len + 1];
    std::memcpy(name, b, static_cast<std::size_t>(e - b));
    name[e - b] = '\0';
    const char *value = api_env_get(name);
    // The environment wins over a dynamic value of the same name.
    if (!*value && name[0] == '$' && ac_options().dynamic_variables && ac_dynamic_value(name + 1, fresh)) {
        value = fresh;
    }
    if (!*value) return nullptr;
    *after = close + 2;
    return value;
}

}  // namespace

char *ac_env_substitute(const char *text) noexcept {
    if (!text) return ac_strdup("");
    if (!std::strstr(text, "{{")) return ac_strdup(text);

    std::size_t in_len = std::strlen(text);
    DynBuf out;
    if (!out.reserve(in_len * 2 + 255)) return ac_strdup(text);

    const char *p = text;
    char fresh[dynamic_value_size];
    while (*p) {
        if (p[0] == '{' && p[1] == '{') {
            const char *after = nullptr;
            if (const char *value = placeholder_value(p + 2, &after, fresh)) {
                if (!out.append(value)) break;
                p = after;
                continue;
            }
        }
        // Plain bytes up to the next brace go in one piece.
        const char *brace = std::strchr(p + 1, '{');
        std::size_t run = brace ? static_cast<std::size_t>(brace - p) : std::strlen(p);
        if (!out.append(p, run)) break;
        p += run;
    }
    if (*p) return ac_strdup(text);  // a reallocation failed
    return out.take();
}
