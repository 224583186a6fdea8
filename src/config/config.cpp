#include "config/config.h"

#include <cstdint>
#include <cstring>

#include "apiclient/apiclient.h"
#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

LibraryOptions s_options;

// One row an option: its JSON name, its kind and where its value lives.
// Options stay a plain struct, so a staged copy is a plain copy.
enum class Kind { boolean, integer, size, text };

struct OptionDef {
    const char *name;
    Kind kind;
    bool LibraryOptions::*flag = nullptr;
    int LibraryOptions::*number = nullptr;
    int min = 0, max = 0;
    char (LibraryOptions::*text)[user_agent_size] = nullptr;
    long long LibraryOptions::*size = nullptr;
};

constexpr OptionDef option_defs[] = {
    {"expand_auth", Kind::boolean, &LibraryOptions::expand_auth},
    {"dynamic_variables", Kind::boolean, &LibraryOptions::dynamic_variables},
    {"nested_variables", Kind::boolean, &LibraryOptions::nested_variables},
    {"reuse_connections", Kind::boolean, &LibraryOptions::reuse_connections},
    {"decompress", Kind::boolean, &LibraryOptions::decompress},
    {"cookies", Kind::boolean, &LibraryOptions::cookies},
    {"max_redirects", Kind::integer, nullptr, &LibraryOptions::max_redirects, 0, max_redirects_limit},
    {"user_agent", Kind::text, nullptr, nullptr, 0, 0, &LibraryOptions::user_agent},
    {"max_response_bytes", Kind::size, nullptr, nullptr, 0, 0, nullptr, &LibraryOptions::max_response_bytes},
    {"body_files_dir", Kind::text, nullptr, nullptr, 0, 0, &LibraryOptions::body_files_dir},
    {"timeout_script_ms", Kind::integer, nullptr, &LibraryOptions::timeout_script_ms, 0, max_timeout_script_ms},
    {"script_memory_bytes", Kind::size, nullptr, nullptr, 0, 0, nullptr, &LibraryOptions::script_memory_bytes},
};

const OptionDef *find_option(const char *name) noexcept {
    for (const OptionDef &d : option_defs) {
        if (std::strcmp(d.name, name) == 0) return &d;
    }
    return nullptr;
}

bool read_integer(LibraryOptions &staged, const OptionDef &def, yyjson_val *value) noexcept {
    // A JSON integer only: 5.0 or "5" would hide a mistake in the host.
    long long n = 0;
    bool in_range = false;
    if (yyjson_is_uint(value)) {
        in_range = yyjson_get_uint(value) <= static_cast<std::uint64_t>(def.max);
        n = in_range ? static_cast<long long>(yyjson_get_uint(value)) : 0;
        in_range = in_range && n >= def.min;
    } else if (yyjson_is_sint(value)) {
        n = yyjson_get_sint(value);
        in_range = n >= def.min && n <= def.max;
    }
    if (!in_range) {
        ac_set_error("api_configure: '%s' must be an integer from %d to %d", def.name, def.min, def.max);
        return false;
    }
    staged.*def.number = static_cast<int>(n);
    return true;
}

// A byte count: any JSON integer from 0 on.
bool read_size(LibraryOptions &staged, const OptionDef &def, yyjson_val *value) noexcept {
    bool in_range = yyjson_is_uint(value) ? yyjson_get_uint(value) <= static_cast<std::uint64_t>(INT64_MAX)
                                          : yyjson_is_sint(value) && yyjson_get_sint(value) >= 0;
    if (!in_range) {
        ac_set_error("api_configure: '%s' must be an integer of 0 or more", def.name);
        return false;
    }
    staged.*def.size = yyjson_is_uint(value) ? static_cast<long long>(yyjson_get_uint(value)) : yyjson_get_sint(value);
    return true;
}

// Texts go into header lines: a line break would start another header, and
// a cut value would be sent as something the host never gave.
bool read_text(LibraryOptions &staged, const OptionDef &def, yyjson_val *value) noexcept {
    if (!yyjson_is_str(value)) {
        ac_set_error("api_configure: '%s' must be a string", def.name);
        return false;
    }
    const char *text = yyjson_get_str(value);
    std::size_t len = yyjson_get_len(value);
    if (len >= sizeof(staged.*def.text)) {
        ac_set_error("api_configure: '%s' is longer than %d bytes", def.name,
                     static_cast<int>(sizeof(staged.*def.text) - 1));
        return false;
    }
    if (std::strlen(text) != len || std::strpbrk(text, "\r\n")) {
        ac_set_error("api_configure: '%s' contains a line break or NUL", def.name);
        return false;
    }
    ac_copy_text(staged.*def.text, sizeof(staged.*def.text), text);
    return true;
}

// Writes one member into `staged`; false with the message set.
bool read_member(LibraryOptions &staged, const char *name, yyjson_val *value) noexcept {
    const OptionDef *def = find_option(name);
    if (!def) {
        ac_set_error("api_configure: unknown option '%s'", name);
        return false;
    }
    switch (def->kind) {
    case Kind::boolean:
        if (!yyjson_is_bool(value)) {
            ac_set_error("api_configure: '%s' must be a boolean", name);
            return false;
        }
        staged.*def->flag = yyjson_get_bool(value);
        return true;
    case Kind::integer: return read_integer(staged, *def, value);
    case Kind::size: return read_size(staged, *def, value);
    case Kind::text: return read_text(staged, *def, value);
    }
    return false;
}

// The directory as a real path, so that later checks compare real paths and
// a change of the process's directory does not move it.
bool resolve_directory(char (&dir)[user_agent_size]) noexcept {
    bool is_dir = false;
    unique_cstr real(ac_real_path(dir, &is_dir));
    if (!real || !is_dir) {
        ac_set_error("api_configure: 'body_files_dir' is not a directory: '%s'", dir);
        return false;
    }
    if (std::strlen(real.get()) >= sizeof dir) {
        ac_set_error("api_configure: 'body_files_dir' is longer than %d bytes", static_cast<int>(sizeof dir - 1));
        return false;
    }
    ac_copy_text(dir, sizeof dir, real.get());
    return true;
}

}  // namespace

const LibraryOptions &ac_options() noexcept { return s_options; }

void ac_options_reset() noexcept { s_options = LibraryOptions{}; }

extern "C" int api_configure(const char *options_json) noexcept {
    unique_doc doc(ac_json_read_arg("api_configure", "options_json", options_json, "invalid JSON"));
    if (!doc) return 0;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) {
        ac_set_error("api_configure: options must be a JSON object");
        return 0;
    }
    // Every member goes into a copy first: one bad member changes nothing.
    LibraryOptions staged = s_options;
    yyjson_obj_iter it = yyjson_obj_iter_with(root);
    for (yyjson_val *k = yyjson_obj_iter_next(&it); k; k = yyjson_obj_iter_next(&it)) {
        if (!read_member(staged, yyjson_get_str(k), yyjson_obj_iter_get_val(k))) return 0;
    }
    if (*staged.body_files_dir && !resolve_directory(staged.body_files_dir)) return 0;
    s_options = staged;
    return 1;
}
