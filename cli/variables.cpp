#include "variables.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli_error.h"
#include "json_doc.h"
#include "paths.h"
#include "quorvane_apiclient.h"

namespace {

JsonDoc read_json_file(const std::string &path, const char *what) {
    yyjson_read_err err{};
    JsonDoc doc(yyjson_read_file(path.c_str(), 0, nullptr, &err));
    if (doc) return doc;
    if (err.code == YYJSON_READ_ERROR_FILE_OPEN || err.code == YYJSON_READ_ERROR_FILE_READ)
        usage_error("cannot read " + std::string(what) + " '" + path + "': " + std::strerror(errno));
    usage_error(std::string(what) + " '" + path + "' is not valid JSON: " + err.msg + " at byte " +
                std::to_string(err.pos));
}

void set_variable(const std::string &name, const std::string &value, const std::set<std::string> *keep) {
    if (keep && keep->count(name)) return;
    if (!api_env_set(name.c_str(), value.c_str())) fail(exit_failed, api_last_error());
}

// Values that are not scalars keep their JSON text, as the library's own loader does.
std::string value_text(yyjson_val *v) {
    if (yyjson_is_str(v) || yyjson_is_num(v) || yyjson_is_bool(v)) return json_scalar_text(v);
    if (yyjson_is_null(v)) return "null";
    char *text = yyjson_val_write(v, 0, nullptr);
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

bool is_postman_file(yyjson_val *root) {
    yyjson_val *values = yyjson_obj_get(root, "values");
    if (!yyjson_is_arr(values)) return false;
    yyjson_val *v;
    yyjson_arr_iter it = yyjson_arr_iter_with(values);
    while ((v = yyjson_arr_iter_next(&it))) {
        if (!yyjson_is_obj(v)) return false;
    }
    return true;
}

}  // namespace

std::pair<std::string, std::string> split_assignment(std::string_view text, const char *option) {
    std::size_t eq = text.find('=');
    if (eq == std::string_view::npos || eq == 0)
        usage_error(std::string(option) + " expects name=value, got '" + std::string(text) + "'");
    return {std::string(text.substr(0, eq)), std::string(text.substr(eq + 1))};
}

void load_variables_file(const std::string &path, const char *what, bool only_missing) {
    JsonDoc doc = read_json_file(path, what);
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) usage_error(std::string(what) + " '" + path + "' must hold a JSON object");
    std::set<std::string> present;
    if (only_missing) present = environment_names();
    const std::set<std::string> *keep = only_missing ? &present : nullptr;
    if (is_postman_file(root)) {
        yyjson_val *v;
        yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(root, "values"));
        while ((v = yyjson_arr_iter_next(&it))) {
            // newman sets entries marked disabled too; runs must send what it sends.
            const char *key = json_str(v, "key");
            if (!*key) continue;
            set_variable(key, json_scalar_text(yyjson_obj_get(v, "value")), keep);
        }
        return;
    }
    yyjson_obj_iter it = yyjson_obj_iter_with(root);
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        set_variable(yyjson_get_str(k), value_text(yyjson_obj_iter_get_val(k)), keep);
    }
}

std::set<std::string> environment_names() {
    std::set<std::string> names;
    JsonDoc doc = parse_json(api_env_json());
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(doc.get()));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) names.insert(yyjson_get_str(k));
    return names;
}

std::string history_directory(std::string &why) {
    std::string dir;
    const char *home = std::getenv("QUORVANE_HOME");
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (home && *home) {
        dir = home;
    } else if (xdg && *xdg == '/') {  // a relative XDG_DATA_HOME is to be ignored
        dir = std::string(xdg) + "/quorvane";
    } else {
        const char *user_home = std::getenv("HOME");
        if (!user_home || !*user_home) {
            const passwd *pw = getpwuid(getuid());
            user_home = pw ? pw->pw_dir : nullptr;
        }
        if (!user_home || !*user_home) {
            why = "no home directory (set QUORVANE_HOME)";
            return "";
        }
        dir = std::string(user_home) + "/.local/share/quorvane";
    }
    // The library makes the last level itself.
    if (!make_parent_directories(dir, true, why)) return "";
    return dir;
}
