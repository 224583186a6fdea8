// Replaces the collection with the requests of a Postman v2.1 collection file.
#include <cstring>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "collection/collection.h"
#include "postman/postman.h"
#include "postman/postman_tree.h"
#include "quorvane_apiclient.h"
#include "url/url.h"
#include "util/dynbuf.h"
#include "util/util.h"

namespace {

const char *str_or(yyjson_val *v, const char *fallback, std::size_t *len) noexcept {
    if (yyjson_is_str(v)) {
        *len = yyjson_get_len(v);
        return yyjson_get_str(v);
    }
    *len = std::strlen(fallback);
    return fallback;
}

bool has_members(yyjson_val *v) noexcept { return yyjson_is_obj(v) && yyjson_obj_size(v) > 0; }

// Appends {key: value} for every entry of `entries` whose "key" and "value"
// are both strings; equal keys are all kept, in entry order.
bool add_pairs(yyjson_mut_doc *doc, yyjson_mut_val *obj, yyjson_val *entries) noexcept {
    yyjson_val *entry;
    yyjson_arr_iter it = yyjson_arr_iter_with(entries);
    while ((entry = yyjson_arr_iter_next(&it))) {
        yyjson_val *key = yyjson_obj_get(entry, "key");
        yyjson_val *value = yyjson_obj_get(entry, "value");
        if (!yyjson_is_str(key) || !yyjson_is_str(value)) continue;
        if (!yyjson_mut_obj_add(obj, yyjson_mut_strn(doc, yyjson_get_str(key), yyjson_get_len(key)),
                                yyjson_mut_strn(doc, yyjson_get_str(value), yyjson_get_len(value))))
            return false;
    }
    return true;
}

bool add_text(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *key, const char *text, std::size_t len) noexcept {
    return yyjson_mut_obj_add_strn(doc, obj, key, text, len);
}

// Builds the item JSON of one Postman request in the staging document and
// stages it under `folder`; false when memory runs out. Strings refer into
// the parsed file, which outlives the staging.
bool import_request(PmStaging &staging, const char *folder, const char *name, std::size_t name_len,
                    yyjson_val *request) noexcept {
    yyjson_mut_doc *d = staging.doc();
    yyjson_mut_val *item = yyjson_mut_obj(d);
    if (!item) return false;

    std::size_t method_len;
    const char *method = str_or(yyjson_obj_get(request, "method"), "GET", &method_len);

    yyjson_val *url = yyjson_obj_get(request, "url");
    DynBuf rebuilt;
    const char *url_text = "";
    std::size_t url_len = 0;
    if (yyjson_is_str(url)) {
        url_text = str_or(url, "", &url_len);
    } else if (yyjson_is_obj(url)) {
        yyjson_val *raw = yyjson_obj_get(url, "raw");
        if (yyjson_is_str(raw)) {
            url_text = str_or(raw, "", &url_len);
        } else {
            // Generators that omit "raw" still describe the URL by its parts.
            if (!ac_url_join(rebuilt, url, true)) return false;
            url_text = rebuilt.c_str();
            url_len = rebuilt.len();
        }
    }

    const char *body = "";
    std::size_t body_len = 0;
    const char *body_type = "raw";
    std::size_t body_type_len = 3;
    yyjson_val *body_obj = yyjson_obj_get(request, "body");
    if (has_members(body_obj)) {
        body_type = str_or(yyjson_obj_get(body_obj, "mode"), "raw", &body_type_len);
        body = str_or(yyjson_obj_get(body_obj, "raw"), "", &body_len);
    }

    yyjson_mut_val *headers = yyjson_mut_obj(d);
    yyjson_mut_val *auth = yyjson_mut_obj(d);
    if (!headers || !auth) return false;
    if (!add_pairs(d, headers, yyjson_obj_get(request, "header"))) return false;

    yyjson_val *auth_obj = yyjson_obj_get(request, "auth");
    yyjson_val *type = yyjson_obj_get(auth_obj, "type");
    if (has_members(auth_obj) && yyjson_is_str(type)) {
        if (!yyjson_mut_obj_add_strn(d, auth, "type", yyjson_get_str(type), yyjson_get_len(type))) return false;
        yyjson_val *params = yyjson_obj_getn(auth_obj, yyjson_get_str(type), yyjson_get_len(type));
        if (!add_pairs(d, auth, params)) return false;
    }

    // A rebuilt URL is copied: it goes with this call.
    bool ok = add_text(d, item, "name", name, name_len) &&
              add_text(d, item, "method", method, method_len) &&
              yyjson_mut_obj_add_strncpy(d, item, "url", url_text, url_len) &&
              add_text(d, item, "body", body, body_len) &&
              add_text(d, item, "body_type", body_type, body_type_len) &&
              yyjson_mut_obj_add_val(d, item, "headers", headers) &&
              yyjson_mut_obj_add_val(d, item, "auth", auth);
    return ok && staging.add(folder, item);
}

// Walks the item tree depth-first in document order: a folder's requests take
// the place where the folder stands in its parent's list. False when memory
// runs out.
bool parse_postman_items(PmStaging &staging, yyjson_val *items) noexcept {
    char path[folder_path_size] = "";
    PmFrameStack stack;
    if (!stack.push(items, 0)) return false;
    while (!stack.empty()) {
        PmFrame &top = stack.top();
        yyjson_val *element = yyjson_arr_iter_next(&top.items);
        if (!element) {
            stack.pop();
            continue;
        }
        if (!has_members(element)) continue;
        path[top.path_len] = '\0';
        std::size_t name_len;
        const char *name = str_or(yyjson_obj_get(element, "name"), "Request", &name_len);
        yyjson_val *children = yyjson_obj_get(element, "item");
        if (yyjson_is_arr(children)) {
            if (yyjson_arr_size(children) == 0) continue;
            std::size_t child_len = ac_pm_extend_path(path, top.path_len, name);
            if (!stack.push(children, child_len)) return false;
            continue;
        }
        yyjson_val *request = yyjson_obj_get(element, "request");
        if (yyjson_is_obj(request) && !import_request(staging, path, name, name_len, request)) return false;
    }
    return true;
}

}  // namespace

extern "C" int api_import_postman(const char *path) noexcept {
    unique_doc doc;
    yyjson_val *items = ac_pm_load_items("api_import_postman", path, doc);
    if (!items) return 0;
    // Every item is built before the collection is replaced.
    PmStaging staging;
    if (!staging.begin() || !parse_postman_items(staging, items) || !staging.commit(nullptr)) {
        ac_set_error("api_import_postman: out of memory");
        return 0;
    }
    return 1;
}
