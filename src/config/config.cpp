#include "config/config.h"

#include <cstring>

#include "apiclient/apiclient.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

LibraryOptions s_options;

// One row an option: its JSON name and where its value lives. A new kind of
// option (integer with a range, text in a fixed array) is a new Kind, a new
// member pointer and a case in read_member; options stay a plain struct, so
// a staged copy is a plain copy.
enum class Kind { boolean };

struct OptionDef {
    const char *name;
    Kind kind;
    bool LibraryOptions::*flag;
};

constexpr OptionDef option_defs[] = {
    {"expand_auth", Kind::boolean, &LibraryOptions::expand_auth},
    {"dynamic_variables", Kind::boolean, &LibraryOptions::dynamic_variables},
    {"nested_variables", Kind::boolean, &LibraryOptions::nested_variables},
};

const OptionDef *find_option(const char *name) noexcept {
    for (const OptionDef &d : option_defs) {
        if (std::strcmp(d.name, name) == 0) return &d;
    }
    return nullptr;
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
    }
    return false;
}

}  // namespace

const LibraryOptions &ac_options() noexcept { return s_options; }

void ac_options_reset() noexcept { s_options = LibraryOptions{}; }

extern "C" int api_configure(const char *options_json) noexcept {
    if (!options_json || !*options_json) {
        ac_set_error("api_configure: missing options_json");
        return 0;
    }
    yyjson_read_err err{};
    unique_doc doc(ac_json_read(options_json, std::strlen(options_json), &err));
    if (!doc) {
        ac_set_error(ac_json_no_memory(err) ? "api_configure: out of memory" : "api_configure: invalid JSON");
        return 0;
    }
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
    s_options = staged;
    return 1;
}
