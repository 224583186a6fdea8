#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "config/config.h"
#include "env/dynamic_vars.h"
#include "env/env.h"
#include "quorvane_apiclient.h"
#include "util/dynbuf.h"
#include "util/owners.h"
#include "util/util.h"

namespace {

constexpr std::size_t max_name_len = 255;
// How often the format's runner expands a text again when values hold placeholders.
constexpr int nested_passes = 19;

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
    // The format's runner expands a variable set to "" to nothing; the plain
    // expansion keeps its placeholder.
    if (!*value && !(ac_options().nested_variables && ac_env_has(name))) return nullptr;
    *after = close + 2;
    return value;
}

// One left-to-right pass over text into out; false when out cannot take
// the result (out.error() says why).
bool expand_once(const char *text, DynBuf &out) noexcept {
    const char *p = text;
    char fresh[dynamic_value_size];
    while (*p) {
        if (p[0] == '{' && p[1] == '{') {
            const char *after = nullptr;
            if (const char *value = placeholder_value(p + 2, &after, fresh)) {
                if (!out.append(value)) return false;
                p = after;
                continue;
            }
        }
        // Plain bytes up to the next brace go in one piece.
        const char *brace = std::strchr(p + 1, '{');
        std::size_t run = brace ? static_cast<std::size_t>(brace - p) : std::strlen(p);
        if (!out.append(p, run)) return false;
        p += run;
    }
    return true;
}

// The runner's encodings of a value that lands in a URL, as measured: in the
// path (and before it) controls, space, non-ASCII and " < > ` { }, with a
// backslash read as '/'; in the query controls, space, non-ASCII and " ' < >.
bool url_byte_encoded(unsigned char c, bool query) noexcept {
    return c <= 0x20 || c >= 0x7F || std::strchr(query ? "\"'<>" : "\"<>`{}", c) != nullptr;
}

bool append_url_value(DynBuf &out, const char *value, bool query) noexcept {
    for (const char *p = value; *p; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (!out.append_url_byte(c, url_byte_encoded(c, query), !query)) return false;
    }
    return true;
}

// One pass over a URL: each value, itself expanded first when values may hold
// placeholders, goes in encoded for the part of the URL it lands in.
bool expand_url_once(const char *text, DynBuf &out, ExpandError &why) noexcept {
    bool query = false;
    char fresh[dynamic_value_size];
    for (const char *p = text; *p;) {
        if (p[0] == '{' && p[1] == '{') {
            const char *after = nullptr;
            if (const char *value = placeholder_value(p + 2, &after, fresh)) {
                unique_cstr expanded(ac_options().nested_variables ? ac_env_substitute(value, &why) : ac_strdup(value));
                if (!expanded && why == ExpandError::none) why = ExpandError::no_memory;
                if (!expanded || !append_url_value(out, expanded.get(), query)) return false;
                p = after;
                continue;
            }
            // One that does not resolve goes out as the runner sends it: its
            // text encoded for its part, as a value would be ("%7B%7Bx%7D%7D"
            // in the path).
            if (const char *close = find_close(p + 2)) {
                std::string_view unresolved(p, static_cast<std::size_t>(close + 2 - p));
                for (char c : unresolved) {
                    auto b = static_cast<unsigned char>(c);
                    if (!out.append_url_byte(b, url_byte_encoded(b, query), !query)) return false;
                }
                p = close + 2;
                continue;
            }
        }
        if (*p == '?') query = true;
        if (!out.append_byte(*p++)) return false;
    }
    return true;
}

ExpandError error_of(const DynBuf &buf) noexcept {
    return buf.error() == DynBuf::Error::too_large ? ExpandError::too_large : ExpandError::no_memory;
}

}  // namespace

char *ac_env_substitute(const char *text, ExpandError *error) noexcept {
    ExpandError ignored;
    ExpandError &why = error ? *error : ignored;
    why = ExpandError::none;
    if (!text) text = "";
    std::size_t len = std::strlen(text);
    if (len > expand_limit) {
        why = ExpandError::too_large;
        return nullptr;
    }
    char *copy = ac_strdup(text);
    if (!copy) why = ExpandError::no_memory;
    if (!copy || !std::strstr(text, "{{")) return copy;
    unique_cstr current(copy);

    // A value may hold placeholders of its own; the format's runner expands
    // the whole text again, up to nested_passes times, while anything changes.
    int passes = ac_options().nested_variables ? nested_passes : 1;
    for (int pass = 0; pass < passes && std::strstr(current.get(), "{{"); ++pass) {
        DynBuf out(expand_limit);
        std::size_t current_len = std::strlen(current.get());
        // Room for a pass that doubles the text, never more than the limit:
        // asking for more would fail a pass whose result fits.
        std::size_t room = std::min(current_len * 2 + 255, expand_limit);  // current_len <= expand_limit
        if (!out.reserve(room) || !expand_once(current.get(), out)) {
            why = error_of(out);
            return nullptr;
        }
        if (out.len() == current_len && std::memcmp(out.c_str(), current.get(), current_len) == 0) break;
        current.reset(out.take());
    }
    return current.release();
}

char *ac_env_substitute_url(const char *text, ExpandError *error) noexcept {
    ExpandError ignored;
    ExpandError &why = error ? *error : ignored;
    why = ExpandError::none;
    if (!text) text = "";
    DynBuf out(expand_limit);
    if (!expand_url_once(text, out, why)) {
        if (why == ExpandError::none) why = error_of(out);
        return nullptr;
    }
    // The runner sends no fragment, even one a value brought in.
    if (const char *hash = std::strchr(out.c_str(), '#')) out.truncate(static_cast<std::size_t>(hash - out.c_str()));
    char *result = out.len() ? out.take() : ac_strdup("");
    if (!result) why = ExpandError::no_memory;
    return result;
}

const char *ac_expand_error_message(ExpandError error) noexcept {
    return error == ExpandError::too_large ? "expanded text too large" : "out of memory";
}
