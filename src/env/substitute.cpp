#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "env/dynamic_vars.h"
#include "env/env.h"
#include "quorvane_apiclient.h"
#include "url/url.h"
#include "util/dynbuf.h"
#include "util/owners.h"
#include "util/util.h"

namespace {

// How often the format's runner expands a text again when values hold placeholders.
constexpr int nested_passes = 19;

// Value of the placeholder that opens at text[i], or null when it does not
// expand. *after receives the index behind the closing "}}". A dynamic value
// is drawn into `fresh`, anew for each occurrence.
const char *placeholder_value(const char *text, std::size_t i, PlaceholderScan &scan, std::size_t *after,
                              char (&fresh)[dynamic_value_size]) noexcept {
    std::size_t end = scan.end_at(i);
    if (!end || end - i - 4 > placeholder_name_max) return nullptr;
    const char *b = text + i + 2, *e = text + end - 2;
    while (b < e && *b == ' ') ++b;
    while (e > b && e[-1] == ' ') --e;
    if (b == e) return nullptr;
    char name[placeholder_name_max + 1];
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
    *after = end;
    return value;
}

// One left-to-right pass over text into out; false when out cannot take
// the result (out.error() says why).
bool expand_once(const char *text, std::size_t len, DynBuf &out) noexcept {
    PlaceholderScan scan(text, len);
    char fresh[dynamic_value_size];
    for (std::size_t i = 0; i < len;) {
        std::size_t after = 0;
        if (const char *value = placeholder_value(text, i, scan, &after, fresh)) {
            if (!out.append(value)) return false;
            i = after;
            continue;
        }
        // Plain bytes up to the next brace go in one piece.
        const char *brace = std::strchr(text + i + 1, '{');
        std::size_t run = brace ? static_cast<std::size_t>(brace - text) - i : len - i;
        if (!out.append(text + i, run)) return false;
        i += run;
    }
    return true;
}

bool append_url_value(DynBuf &out, const char *value, std::size_t len, UrlSet set) noexcept {
    for (std::size_t i = 0; i < len; ++i) {
        if (!ac_url_append_byte(out, static_cast<unsigned char>(value[i]), set)) return false;
    }
    return true;
}

// One pass over a URL: each value, itself expanded first when values may hold
// placeholders, goes in encoded for the part of the URL it lands in.
bool expand_url_once(const char *text, DynBuf &out, ExpandError &why) noexcept {
    UrlSet set = UrlSet::path;
    std::size_t len = std::strlen(text);
    PlaceholderScan scan(text, len);
    char fresh[dynamic_value_size];
    for (std::size_t i = 0; i < len;) {
        std::size_t after = 0;
        if (const char *value = placeholder_value(text, i, scan, &after, fresh)) {
            unique_cstr expanded(ac_options().nested_variables ? ac_env_substitute(value, &why) : ac_strdup(value));
            if (!expanded && why == ExpandError::none) why = ExpandError::no_memory;
            if (!expanded || !append_url_value(out, expanded.get(), std::strlen(expanded.get()), set)) return false;
            i = after;
            continue;
        }
        // One that does not resolve goes out as the runner sends it: its text
        // encoded for its part, as a value would be ("%7B%7Bx%7D%7D" in the path).
        if (std::size_t end = scan.end_at(i); end && end - i - 4 <= placeholder_name_max) {
            if (!append_url_value(out, text + i, end - i, set)) return false;
            i = end;
            continue;
        }
        if (text[i] == '?') set = UrlSet::query;
        if (!out.append_byte(text[i++])) return false;
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
        if (!out.reserve(room) || !expand_once(current.get(), current_len, out)) {
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
