// Replaces the collection with the requests of a Postman v2.0 or v2.1 file,
// each built so that api_request sends what the format's runner sends, and
// reports what could not be carried.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "collection/collection.h"
#include "env/env.h"
#include "postman/postman_full.h"
#include "postman/postman_tree.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

// The collection variables of the last full import, for the full export to
// write back; they belong to the collection of that generation only.
DynBuf s_variables;
unsigned long s_variables_generation = 0;

struct Counts {
    int requests = 0;
    int items = 0;
    int variables = 0;
    int scripts = 0;
};

const char *name_of(yyjson_val *element) noexcept {
    yyjson_val *name = yyjson_obj_get(element, "name");
    return yyjson_is_str(name) ? yyjson_get_str(name) : "Request";
}

// An auth object with a type applies; null, a missing member or no type inherits.
yyjson_val *effective_auth(yyjson_val *own, yyjson_val *inherited) noexcept {
    yyjson_val *type = yyjson_obj_get(own, "type");
    if (yyjson_is_str(type) && std::strcmp(yyjson_get_str(type), "inherit") != 0) return own;
    return inherited;
}

bool has_text(yyjson_val *v) noexcept {
    if (yyjson_is_obj(v)) v = yyjson_obj_get(v, "content");
    return yyjson_is_str(v) && yyjson_get_len(v) > 0;
}

// Notes the scripts of an element; true when it has any.
bool note_scripts(const PmPlace &at, yyjson_val *events) noexcept {
    bool any = false;
    yyjson_val *event;
    yyjson_arr_iter it = yyjson_arr_iter_with(events);
    while ((event = yyjson_arr_iter_next(&it))) {
        if (yyjson_is_true(yyjson_obj_get(event, "disabled"))) continue;
        yyjson_val *exec = yyjson_obj_get(yyjson_obj_get(event, "script"), "exec");
        bool lines = yyjson_is_str(exec) && yyjson_get_len(exec) > 0;
        yyjson_val *line;
        yyjson_arr_iter lit = yyjson_arr_iter_with(exec);
        while (!lines && (line = yyjson_arr_iter_next(&lit))) lines = yyjson_is_str(line) && yyjson_get_len(line) > 0;
        if (!lines) continue;
        yyjson_val *listen = yyjson_obj_get(event, "listen");
        ac_pm_note(at, "script", "%s script not run", yyjson_is_str(listen) ? yyjson_get_str(listen) : "event");
        any = true;
    }
    return any;
}

// What an element (folder or request) carries that items cannot: scripts,
// descriptions, saved responses, settings. `used` settings are applied.
bool note_extras(const PmPlace &at, yyjson_val *element, bool request_item) noexcept {
    bool scripts = note_scripts(at, yyjson_obj_get(element, "event"));
    if (has_text(yyjson_obj_get(element, "description"))) ac_pm_note(at, "description", "description left out");
    yyjson_val *request = yyjson_obj_get(element, "request");
    if (has_text(yyjson_obj_get(request, "description"))) ac_pm_note(at, "description", "request description left out");
    yyjson_val *responses = yyjson_obj_get(element, "response");
    if (yyjson_arr_size(responses) > 0)
        ac_pm_note(at, "responses", "%zu saved responses left out", yyjson_arr_size(responses));
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(element, "protocolProfileBehavior"));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        const char *name = yyjson_get_str(k);
        if (!name) continue;
        bool used = request_item && (std::strcmp(name, "disableBodyPruning") == 0 || std::strcmp(name, "disableUrlEncoding") == 0);
        if (!used) ac_pm_note(at, "setting", "protocolProfileBehavior.%s not carried", name);
    }
    for (const char *key : {"proxy", "certificate"}) {
        if (yyjson_obj_get(request, key)) ac_pm_note(at, "setting", "request %s not carried", key);
    }
    return scripts;
}

bool add_str(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *key, const char *s, std::size_t len) noexcept {
    return yyjson_mut_obj_add_strncpy(doc, obj, key, s, len);
}

// Nesting depth of v (a scalar is 0), counted no further than limit + 1.
std::size_t depth(yyjson_mut_val *v, std::size_t limit) noexcept {
    if (!yyjson_mut_is_ctn(v)) return 0;
    if (limit == 0) return 1;
    std::size_t deepest = 0;
    bool obj = yyjson_mut_is_obj(v);
    std::size_t idx, max;
    yyjson_mut_val *child, *key;
    if (obj) {
        yyjson_mut_obj_foreach(v, idx, max, key, child) deepest = std::max(deepest, depth(child, limit - 1));
    } else {
        yyjson_mut_arr_foreach(v, idx, max, child) deepest = std::max(deepest, depth(child, limit - 1));
    }
    return deepest + 1;
}

enum class Built { staged, refused, no_memory };

// Builds the item JSON of one request and stages it under its folder. The
// collection's own refusals (its limit, auth nested too deeply) are decided
// here, so that the staged items are exactly those it will take.
Built import_request(PmStaging &staging, int staged, const PmPlace &at, yyjson_val *element,
                     yyjson_val *inherited_auth) noexcept {
    if (staged >= max_collection_items) {
        ac_set_error("api_collection_add: collection limit (%d) reached", max_collection_items);
        ac_pm_note(at, "item", "not added: %s", api_last_error());
        return Built::refused;
    }
    yyjson_val *request = yyjson_obj_get(element, "request");
    yyjson_val *url_val = yyjson_is_str(request) ? request : yyjson_obj_get(request, "url");
    yyjson_mut_doc *d = staging.doc();
    yyjson_mut_val *item = yyjson_mut_obj(d);
    if (!item) return Built::no_memory;
    PmHeaders headers(d);
    if (!headers.load(yyjson_obj_get(request, "header"))) return Built::no_memory;

    DynBuf method;
    yyjson_val *m = yyjson_obj_get(request, "method");
    if (!method.append(yyjson_is_str(m) && yyjson_get_len(m) > 0 ? yyjson_get_str(m) : "GET")) return Built::no_memory;
    for (std::size_t i = 0; i < method.len(); ++i) {
        char &c = method.data()[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }

    yyjson_val *behaviour = yyjson_obj_get(element, "protocolProfileBehavior");
    bool encode = !yyjson_is_true(yyjson_obj_get(behaviour, "disableUrlEncoding"));
    DynBuf url;
    bool raw_only = false;
    if (!ac_pm_build_url(url, url_val, encode, &raw_only)) return Built::no_memory;
    if (raw_only) ac_pm_note(at, "url", "url object with only 'raw' (the runner sends nothing for it): raw taken");

    PmBody body;
    bool keep_get_body = yyjson_is_true(yyjson_obj_get(behaviour, "disableBodyPruning"));
    if (!ac_pm_map_body(at, yyjson_obj_get(request, "body"), method.c_str(), keep_get_body, headers, body)) return Built::no_memory;
    yyjson_val *auth = effective_auth(yyjson_obj_get(request, "auth"), inherited_auth);
    yyjson_mut_val *auth_obj = ac_pm_map_auth(at, d, auth, headers, url);
    yyjson_mut_val *header_obj = headers.object();
    if (!auth_obj || !header_obj) return Built::no_memory;

    bool ok = add_str(d, item, "name", at.name, std::strlen(at.name)) &&
              add_str(d, item, "method", method.c_str(), method.len()) && add_str(d, item, "url", url.c_str(), url.len()) &&
              add_str(d, item, "body", body.text.c_str(), body.text.len()) &&
              yyjson_mut_obj_add_str(d, item, "body_type", body.type) && yyjson_mut_obj_add_val(d, item, "headers", header_obj) &&
              yyjson_mut_obj_add_val(d, item, "auth", auth_obj) && yyjson_mut_obj_add_true(d, item, "verbatim");
    if (!ok) return Built::no_memory;
    if (depth(auth_obj, max_member_depth) > max_member_depth) {
        ac_set_error("api_collection_add: 'auth' nested too deeply");
        ac_pm_note(at, "item", "not added: %s", api_last_error());
        return Built::refused;
    }
    return staging.add(at.folder, item) ? Built::staged : Built::no_memory;
}

// Walks the item tree depth-first in document order, as the plain import
// does, staging the items. False when memory runs out.
bool walk(PmStaging &staging, yyjson_val *items, yyjson_val *root_auth, Counts &counts) noexcept {
    char path[folder_path_size] = "";
    PmFrameStack stack;
    if (!stack.push(items, 0, root_auth)) return false;
    while (!stack.empty()) {
        PmFrame &top = stack.top();
        yyjson_val *element = yyjson_arr_iter_next(&top.items);
        if (!element) {
            stack.pop();
            continue;
        }
        if (!yyjson_is_obj(element) || yyjson_obj_size(element) == 0) continue;
        path[top.path_len] = '\0';
        PmPlace at{path, name_of(element)};
        yyjson_val *children = yyjson_obj_get(element, "item");
        if (yyjson_is_arr(children)) {
            if (yyjson_arr_size(children) == 0) continue;
            note_extras(at, element, false);
            yyjson_val *auth = effective_auth(yyjson_obj_get(element, "auth"), top.auth);
            std::size_t child_len = ac_pm_extend_path(path, top.path_len, at.name);
            if (!stack.push(children, child_len, auth)) return false;
            continue;
        }
        yyjson_val *request = yyjson_obj_get(element, "request");
        if (!yyjson_is_obj(request) && !yyjson_is_str(request)) continue;
        ++counts.requests;
        if (note_extras(at, element, true)) ++counts.scripts;
        Built built = import_request(staging, counts.items, at, element, top.auth);
        if (built == Built::no_memory) return false;
        if (built == Built::staged) ++counts.items;
    }
    return true;
}

// The collection's enabled variables, remembered as a JSON array of
// {"key","value"} in s_variables; nothing is set yet. False when memory runs out.
bool read_variables(yyjson_val *variables) noexcept {
    PmPlace at{"", ""};
    s_variables.reset();
    if (!s_variables.append_byte('[')) return false;
    yyjson_val *var;
    yyjson_arr_iter it = yyjson_arr_iter_with(variables);
    while ((var = yyjson_arr_iter_next(&it))) {
        yyjson_val *key = yyjson_obj_get(var, "key");
        if (!yyjson_is_str(key) || yyjson_get_len(key) == 0) continue;
        const char *name = yyjson_get_str(key);
        if (yyjson_is_true(yyjson_obj_get(var, "disabled"))) {
            ac_pm_note(at, "variable", "'%s' switched off: not set", name);
            continue;
        }
        char scratch[40];
        std::size_t len = 0;
        const char *value = ac_pm_scalar(yyjson_obj_get(var, "value"), &len, scratch);
        bool ok = (s_variables.len() == 1 || s_variables.append_byte(',')) && s_variables.append("{\"key\":") &&
                  ac_pm_json_string(s_variables, name, yyjson_get_len(key)) && s_variables.append(",\"value\":") &&
                  ac_pm_json_string(s_variables, value ? value : "", value ? len : 0) && s_variables.append_byte('}');
        if (!ok) return false;
        if (ac_env_has(name)) ac_pm_note(at, "variable", "'%s' already set in the environment: kept", name);
    }
    return s_variables.append_byte(']');
}

// Sets the remembered variables the environment lacks, as the runner lets an
// environment override collection variables. False when memory runs out.
bool set_variables(Counts &counts) noexcept {
    unique_doc parsed(ac_json_read(s_variables.c_str(), s_variables.len()));
    if (!parsed) return false;
    PmPlace at{"", ""};
    yyjson_val *var;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_doc_get_root(parsed.get()));
    while ((var = yyjson_arr_iter_next(&it))) {
        const char *name = ac_json_str(var, "key", "");
        if (ac_env_has(name)) continue;
        EnvSet set = ac_env_set(name, ac_json_str(var, "value", ""));
        if (set == EnvSet::no_memory) return false;
        if (set == EnvSet::ok) {
            ++counts.variables;
        } else {
            ac_pm_note(at, "variable", "'%s' not set: %s", name, api_last_error());
        }
    }
    return true;
}

}  // namespace

const char *ac_pm_collection_variables() noexcept {
    if (s_variables.len() == 0 || s_variables_generation != ac_collection_generation()) return nullptr;
    return s_variables.c_str();
}

void ac_pm_forget_variables() noexcept { s_variables.release(); }

extern "C" int api_import_postman_full(const char *path) noexcept {
    ac_postman_report_begin("import");
    unique_doc doc;
    yyjson_val *items = ac_pm_load_items("api_import_postman_full", path, doc);
    if (!items) return 0;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    // Built aside first: running out of memory half-way leaves the collection,
    // the environment and the last report as they were.
    Counts counts;
    PmPlace top{"", ""};
    note_scripts(top, yyjson_obj_get(root, "event"));
    if (has_text(yyjson_obj_get(yyjson_obj_get(root, "info"), "description")))
        ac_pm_note(top, "description", "collection description left out");
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(root, "protocolProfileBehavior"));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        if (const char *name = yyjson_get_str(k)) ac_pm_note(top, "setting", "collection protocolProfileBehavior.%s not carried", name);
    }
    PmStaging staging;
    bool ok = staging.begin() && read_variables(yyjson_obj_get(root, "variable")) &&
              walk(staging, items, effective_auth(yyjson_obj_get(root, "auth"), nullptr), counts) && set_variables(counts) &&
              ac_postman_report_end(counts.requests, counts.items, counts.variables, counts.scripts) &&
              staging.commit(nullptr);
    if (!ok) {
        s_variables.release();
        ac_postman_report_discard();
        ac_set_error("api_import_postman_full: out of memory");
        return 0;
    }
    s_variables_generation = ac_collection_generation();
    return 1;
}
