#include "run_plan.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <set>

#include "cli_error.h"
#include "quorvane_apiclient.h"
#include "variables.h"

namespace {

// A Postman collection has an "item" tree; the library's own files have a
// "requests" array (or are a bare array).
bool is_postman_collection(yyjson_val *root) {
    return yyjson_is_obj(root) && yyjson_is_arr(yyjson_obj_get(root, "item")) && !yyjson_obj_get(root, "requests");
}

std::string base_name(const std::string &path) {
    std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string new_id(std::mt19937_64 &rng) {
    std::uint64_t hi = rng(), lo = rng();
    hi = (hi & 0xffffffffffff0fffULL) | 0x4000ULL;           // version 4
    lo = (lo & 0x3fffffffffffffffULL) | 0x8000000000000000ULL;  // variant 1
    char text[40];
    std::snprintf(text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx", static_cast<unsigned long long>(hi >> 32),
                  static_cast<unsigned long long>((hi >> 16) & 0xffff), static_cast<unsigned long long>(hi & 0xffff),
                  static_cast<unsigned long long>(lo >> 48), static_cast<unsigned long long>(lo & 0xffffffffffffULL));
    return text;
}

bool under(const std::string &folder, const std::string &prefix) {
    return folder == prefix || (folder.size() > prefix.size() && folder.compare(0, prefix.size(), prefix) == 0 &&
                                folder[prefix.size()] == '/');
}

// Scripts of the import's report that would have run for the chosen items:
// their own, their folders', the collection's.
int count_skipped_scripts(const std::vector<PlannedItem> &chosen) {
    JsonDoc report = parse_json(api_postman_report_json());
    int n = 0;
    yyjson_val *note;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(yyjson_doc_get_root(report.get()), "notes"));
    while ((note = yyjson_arr_iter_next(&it))) {
        if (std::strcmp(json_str(note, "what"), "script") != 0) continue;
        std::string folder = json_str(note, "folder"), name = json_str(note, "name");
        std::string as_folder = folder.empty() ? name : folder + "/" + name;
        bool applies = name.empty();
        for (std::size_t i = 0; i < chosen.size() && !applies; ++i) {
            applies = (chosen[i].folder == folder && chosen[i].name == name) || under(chosen[i].folder, as_folder);
        }
        n += applies ? 1 : 0;
    }
    return n;
}

// A collection file keeps the variables of the collection it was imported
// from: the enabled ones are set where the environment has none, as the
// import of the Postman file does.
void set_kept_variables(yyjson_val *document) {
    std::set<std::string> present = environment_names();
    yyjson_val *var;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(document, "variable"));
    while ((var = yyjson_arr_iter_next(&it))) {
        const char *key = json_str(var, "key");
        if (!*key || yyjson_is_true(yyjson_obj_get(var, "disabled")) || !present.insert(key).second) continue;
        yyjson_val *value = yyjson_obj_get(var, "value");
        std::string text = yyjson_is_str(value) || yyjson_is_num(value) || yyjson_is_bool(value) ? json_scalar_text(value) : "";
        if (!api_env_set(key, text.c_str())) fail(exit_failed, api_last_error());
    }
}

void load_collection(const std::string &path, RunPlan &plan) {
    yyjson_read_err err{};
    plan.collection.reset(yyjson_read_file(path.c_str(), 0, nullptr, &err));
    if (!plan.collection) {
        if (err.code == YYJSON_READ_ERROR_FILE_OPEN || err.code == YYJSON_READ_ERROR_FILE_READ)
            usage_error("cannot read collection '" + path + "': " + std::strerror(errno));
        usage_error("collection '" + path + "' is not valid JSON: " + err.msg + " at byte " + std::to_string(err.pos));
    }
    yyjson_val *root = yyjson_doc_get_root(plan.collection.get());
    if (is_postman_collection(root)) {
        if (!api_import_postman_full(path.c_str())) usage_error(api_last_error());
        plan.collection_name = json_str(yyjson_obj_get(root, "info"), "name", "");
    } else if (!api_collection_load(path.c_str())) {
        usage_error(api_last_error());
    } else {
        set_kept_variables(yyjson_obj_get(root, "postman"));
        plan.collection_name = json_str(yyjson_obj_get(yyjson_obj_get(root, "postman"), "info"), "name", "");
    }
    if (plan.collection_name.empty()) plan.collection_name = base_name(path);
}

PlannedItem read_item(int index, std::mt19937_64 &rng) {
    PlannedItem item;
    item.index = index;
    item.item_json = api_collection_get_json(index);
    JsonDoc doc = parse_json(item.item_json);
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    item.id = new_id(rng);
    item.folder = json_str(root, "folder");
    item.name = json_str(root, "name");
    item.method = json_str(root, "method", "GET");
    item.url = json_str(root, "url");
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(root, "headers"));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        item.headers.emplace_back(yyjson_get_str(k), json_scalar_text(yyjson_obj_iter_get_val(k)));
    }
    return item;
}

// Marks what `name` selects; false when nothing matches. Folders are met in
// the order a depth-first walk of the tree meets them: before their requests.
bool mark(const std::vector<PlannedItem> &items, const std::string &name, std::vector<bool> &chosen) {
    std::set<std::string> met;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string &folder = items[i].folder;
        for (std::size_t start = 0; !folder.empty();) {
            std::size_t end = folder.find('/', start);
            std::string prefix = folder.substr(0, end);
            std::string segment = folder.substr(start, end == std::string::npos ? end : end - start);
            if (met.insert(prefix).second && (segment == name || prefix == name)) {
                for (std::size_t j = i; j < items.size(); ++j) {
                    if (under(items[j].folder, prefix)) chosen[j] = true;
                }
                return true;
            }
            if (end == std::string::npos) break;
            start = end + 1;
        }
        if (items[i].name == name) {
            chosen[i] = true;
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::size_t> select_items(const std::vector<PlannedItem> &items, const std::vector<std::string> &names) {
    std::vector<bool> chosen(items.size(), names.empty());
    for (const std::string &name : names) {
        if (!mark(items, name, chosen)) usage_error("no folder or request named '" + name + "' in the collection");
    }
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (chosen[i]) out.push_back(i);
    }
    return out;
}

RunPlan load_plan(const PlanOptions &o) {
    if (!api_init(nullptr)) fail(exit_failed, api_last_error());
    // What the format's runner sends: auth with placeholders, {{$guid}} and the like.
    if (!api_configure(R"({"expand_auth":true,"dynamic_variables":true,"nested_variables":true})")) fail(exit_failed, api_last_error());
    RunPlan plan;
    // newman's precedence: --env-var over -e over collection variables over
    // globals. The import sets collection variables only where none is set.
    if (!o.environment.empty()) load_variables_file(o.environment, "environment file", false);
    for (const std::string &text : o.env_vars) {
        auto [name, value] = split_assignment(text, "--env-var");
        if (!api_env_set(name.c_str(), value.c_str())) fail(exit_failed, api_last_error());
    }
    plan.environment_json = api_env_json();
    load_collection(o.collection, plan);
    std::set<std::string> before_globals = environment_names();
    for (const std::string &text : o.global_vars) {
        auto [name, value] = split_assignment(text, "--global-var");
        if (!before_globals.count(name) && !api_env_set(name.c_str(), value.c_str())) fail(exit_failed, api_last_error());
    }
    if (!o.globals.empty()) load_variables_file(o.globals, "globals file", true);
    JsonMutDoc globals(yyjson_mut_doc_new(nullptr));
    // The globals actually in force: names the environment did not set.
    {
        JsonDoc env = parse_json(api_env_json());
        yyjson_mut_val *obj = yyjson_mut_obj(globals.get());
        yyjson_mut_doc_set_root(globals.get(), obj);
        yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(env.get()));
        for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
            if (before_globals.count(yyjson_get_str(k))) continue;
            yyjson_mut_obj_add(obj, yyjson_val_mut_copy(globals.get(), k),
                               yyjson_val_mut_copy(globals.get(), yyjson_obj_iter_get_val(k)));
        }
    }
    plan.globals_json = json_write(globals.get());

    std::random_device seed;
    std::mt19937_64 rng((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
    std::vector<PlannedItem> all;
    for (int i = 0, n = api_collection_count(); i < n; ++i) all.push_back(read_item(i, rng));
    for (std::size_t i : select_items(all, o.folders)) plan.items.push_back(std::move(all[i]));
    plan.scripts_skipped = count_skipped_scripts(plan.items);
    return plan;
}

std::string request_config(const PlannedItem &item, const TransferSettings &settings) {
    JsonDoc doc = parse_json(item.item_json);
    JsonMutDoc config(yyjson_doc_mut_copy(doc.get(), nullptr));
    yyjson_mut_val *root = yyjson_mut_doc_get_root(config.get());
    if (!root) return item.item_json;
    yyjson_mut_obj_add_int(config.get(), root, "timeout_s", settings.timeout_s);
    yyjson_mut_obj_add_int(config.get(), root, "insecure", settings.insecure ? 1 : 0);
    yyjson_mut_obj_add_int(config.get(), root, "follow_redirects", settings.follow_redirects ? 1 : 0);
    if (!settings.client_cert.empty())
        yyjson_mut_obj_add_strcpy(config.get(), root, "client_cert", settings.client_cert.c_str());
    if (!settings.client_key.empty())
        yyjson_mut_obj_add_strcpy(config.get(), root, "client_key", settings.client_key.c_str());
    if (!settings.extra_cas.empty())
        yyjson_mut_obj_add_strcpy(config.get(), root, "extra_ca_file", settings.extra_cas.c_str());
    return json_write(config.get());
}
