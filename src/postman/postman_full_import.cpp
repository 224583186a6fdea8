// Replaces the collection with the requests of a Postman v2.0 or v2.1 file,
// each built so that api_request sends what the format's runner sends, and
// keeps everything else the file says: each request item as written in its
// item's "postman" member, the collection and its folders in the collection's
// document. The report lists what is kept but not acted on.
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
#include "util/json_build.h"
#include "util/util.h"

namespace {

// Folders nested deeper than this keep no layout in the document (their
// items still keep their folder paths): a pretty collection file grows with
// the square of its depth.
constexpr std::size_t max_kept_folder_depth = 64;

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
        ac_pm_note(at, "script", "%s script kept, not run", yyjson_is_str(listen) ? yyjson_get_str(listen) : "event");
        any = true;
    }
    return any;
}

// What an element (folder or request) says that is kept but not acted on
// when its requests are sent: scripts and settings. True when it has scripts.
bool note_extras(const PmPlace &at, yyjson_val *element, bool request_item) noexcept {
    bool scripts = note_scripts(at, yyjson_obj_get(element, "event"));
    yyjson_val *request = yyjson_obj_get(element, "request");
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(element, "protocolProfileBehavior"));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        const char *name = yyjson_get_str(k);
        if (!name) continue;
        bool used = request_item && (std::strcmp(name, "disableBodyPruning") == 0 || std::strcmp(name, "disableUrlEncoding") == 0);
        if (!used) ac_pm_note(at, "setting", "protocolProfileBehavior.%s kept, not applied", name);
    }
    for (const char *key : {"proxy", "certificate"}) {
        if (yyjson_obj_get(request, key)) ac_pm_note(at, "setting", "request %s kept, not applied", key);
    }
    return scripts;
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

// A value of the file for the document or an item's "postman" member, as
// its compact text (a raw value: copying the text is cheaper than copying
// the tree twice on its way into the collection). NULL, with *deep set when
// it is nested past the store's limit (the member wraps it in two levels).
yyjson_mut_val *kept_copy(yyjson_mut_doc *d, yyjson_val *v, bool *deep) noexcept {
    *deep = ac_json_depth(v, max_member_depth) > max_member_depth - 2;
    if (*deep) return nullptr;
    std::size_t len = 0;
    unique_cstr text(yyjson_val_write_opts(v, 0, ac_alc(), &len, nullptr));
    return text ? yyjson_mut_rawncpy(d, text.get(), len) : nullptr;
}

// Builds the item JSON of one request and stages it under its folder, with
// the item as written in its "postman" member. The collection's own
// refusals (its limit, auth nested too deeply) are decided here, so that the
// staged items are exactly those it will take, and `ref` is the index the
// item will have.
Built import_request(PmStaging &staging, int ref, const PmPlace &at, yyjson_val *element,
                     yyjson_val *inherited_auth) noexcept {
    if (ref >= max_collection_items) {
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

    bool deep = false;
    yyjson_mut_val *written = kept_copy(d, element, &deep);
    if (!written && !deep) return Built::no_memory;
    if (deep) ac_pm_note(at, "item", "nested too deeply to keep as written: its request alone is kept");
    yyjson_mut_val *kept = written ? yyjson_mut_obj(d) : nullptr;
    JsonBuild b(d);
    b.add_text(item, "name", at.name);
    b.add_text(item, "method", method.c_str(), method.len());
    b.add_text(item, "url", url.c_str(), url.len());
    b.add_text(item, "body", body.text.c_str(), body.text.len());
    b.add(item, "body_type", yyjson_mut_str(d, body.type));
    b.add(item, "headers", header_obj);
    b.add(item, "auth", auth_obj);
    b.add_true(item, "verbatim");
    if (written) {
        b.add(kept, "ref", yyjson_mut_int(d, ref));
        b.add(kept, "item", written);
        b.add(item, "postman", kept);
    }
    if (!b.ok()) return Built::no_memory;
    if (depth(auth_obj, max_member_depth) > max_member_depth) {
        ac_set_error("api_collection_add: 'auth' nested too deeply");
        ac_pm_note(at, "item", "not added: %s", api_last_error());
        return Built::refused;
    }
    return staging.add(at.folder, item) ? Built::staged : Built::no_memory;
}

// A folder (or the root) for the document: its members but the item list,
// which comes anew. NULL when memory runs out.
yyjson_mut_val *kept_folder(yyjson_mut_doc *d, yyjson_val *element, yyjson_mut_val **list) noexcept {
    JsonBuild b(d);
    yyjson_mut_val *folder = b.copy_without(element, "item");
    *list = b.arr();
    b.add(folder, "item", *list);
    return b.ok() ? folder : nullptr;
}

// Walks the item tree depth-first in document order, as the plain import
// does, staging the items and keeping the layout in `layout` (the
// document's item list): a staged request by its ref, a folder with its
// members, any other element as it is. False when memory runs out.
bool walk(PmStaging &staging, yyjson_val *items, yyjson_val *root_auth, yyjson_mut_val *layout, Counts &counts) noexcept {
    yyjson_mut_doc *d = staging.doc();
    char path[folder_path_size] = "";
    PmFrameStack stack;
    bool noted_depth = false;
    if (!stack.push(items, 0, root_auth, layout)) return false;
    while (!stack.empty()) {
        PmFrame &top = stack.top();
        yyjson_val *element = yyjson_arr_iter_next(&top.items);
        if (!element) {
            stack.pop();
            continue;
        }
        if (!yyjson_is_obj(element)) continue;
        path[top.path_len] = '\0';
        PmPlace at{path, name_of(element)};
        yyjson_mut_val *kept_list = top.kept;
        yyjson_val *children = yyjson_obj_get(element, "item");
        bool is_request = !yyjson_is_arr(children) && yyjson_obj_size(element) > 0 &&
                          (yyjson_is_obj(yyjson_obj_get(element, "request")) || yyjson_is_str(yyjson_obj_get(element, "request")));
        if (yyjson_is_arr(children)) {
            yyjson_mut_val *child_list = nullptr;
            if (kept_list && stack.depth() > max_kept_folder_depth && !noted_depth) {
                ac_pm_note(at, "folder", "folders nested more than %zu deep: their layout is not kept",
                           max_kept_folder_depth);
                noted_depth = true;
            }
            if (kept_list && stack.depth() <= max_kept_folder_depth) {
                yyjson_mut_val *folder = kept_folder(d, element, &child_list);
                if (!folder || !yyjson_mut_arr_append(kept_list, folder)) return false;
            }
            if (yyjson_arr_size(children) == 0) continue;
            note_extras(at, element, false);
            yyjson_val *auth = effective_auth(yyjson_obj_get(element, "auth"), top.auth);
            std::size_t child_len = ac_pm_extend_path(path, top.path_len, at.name);
            if (!stack.push(children, child_len, auth, child_list)) return false;
            continue;
        }
        Built built = Built::refused;
        if (is_request) {
            ++counts.requests;
            if (note_extras(at, element, true)) ++counts.scripts;
            built = import_request(staging, counts.items, at, element, top.auth);
            if (built == Built::no_memory) return false;
        }
        yyjson_mut_val *entry = nullptr;
        if (built == Built::staged) {
            entry = yyjson_mut_int(d, counts.items++);
            if (!entry) return false;
        } else if (kept_list) {
            bool deep = false;
            entry = kept_copy(d, element, &deep);
            if (deep) ac_pm_note(at, "item", "element nested too deeply to keep: left out");
            if (!entry && !deep) return false;
        }
        if (entry && kept_list && !yyjson_mut_arr_append(kept_list, entry)) return false;
    }
    return true;
}

// The collection's enabled variables, copied ahead into `batch`: they are
// set only once the collection is replaced, where the environment lacks
// them. False when memory runs out.
bool read_variables(yyjson_val *variables, EnvBatch &batch) noexcept {
    PmPlace at{"", ""};
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
        const char *value = ac_json_scalar(yyjson_obj_get(var, "value"), &len, scratch);
        DynBuf text;
        if (value) text.append(value, len);
        if (!text.ok() || !batch.add(name, text.c_str())) return false;
        if (ac_env_has(name)) ac_pm_note(at, "variable", "'%s' already set in the environment: kept", name);
    }
    batch.plan();
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (batch.no_room(i))
            ac_pm_note(at, "variable", "'%s' not set: api_env_set: maximum environment variables (%d) reached",
                       batch.key(i), max_env_variables);
    }
    return true;
}

}  // namespace

extern "C" int api_import_postman_full(const char *path) noexcept {
    ac_postman_report_begin("import");
    unique_doc doc;
    yyjson_val *items = ac_pm_load_items("api_import_postman_full", path, doc);
    if (!items) {
        ac_postman_report_discard();
        return 0;
    }
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    // Built aside first: a failure at any point leaves the collection, the
    // environment and the last report as they were.
    Counts counts;
    PmPlace top{"", ""};
    note_scripts(top, yyjson_obj_get(root, "event"));
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(root, "protocolProfileBehavior"));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        if (const char *name = yyjson_get_str(k)) ac_pm_note(top, "setting", "collection protocolProfileBehavior.%s kept, not applied", name);
    }
    PmStaging staging;
    EnvBatch variables;
    yyjson_mut_val *layout = nullptr;
    yyjson_mut_val *document = staging.begin() ? kept_folder(staging.doc(), root, &layout) : nullptr;
    bool ok = document && read_variables(yyjson_obj_get(root, "variable"), variables) &&
              walk(staging, items, effective_auth(yyjson_obj_get(root, "auth"), nullptr), layout, counts);
    for (std::size_t i = 0; ok && i < variables.size(); ++i) counts.variables += variables.will_set(i) ? 1 : 0;
    ok = ok && ac_postman_report_end(counts.requests, counts.items, counts.variables, counts.scripts);
    if (ok) staging.set_document(document);
    if (!ok || !staging.commit(nullptr)) {
        ac_postman_report_discard();
        ac_set_error("api_import_postman_full: out of memory");
        return 0;
    }
    // Neither can fail: the variables were copied and planned, the report written.
    variables.apply();
    ac_postman_report_publish();
    return 1;
}
