// Writing back what the full import kept: the collection's root and folders
// from its document, and request items as their file wrote them, in the
// format's v2.1 shape.
#include <cstring>

#include "postman/postman_full.h"
#include "util/util.h"

namespace {

constexpr const char *schema_url = "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

// The parameter type v2.1 files give a value.
const char *param_type(yyjson_mut_val *v) noexcept {
    if (yyjson_mut_is_str(v)) return "string";
    if (yyjson_mut_is_bool(v)) return "boolean";
    if (yyjson_mut_is_num(v)) return "number";
    return "any";
}

yyjson_mut_val *member(yyjson_mut_val *obj, const char *key) noexcept {
    return yyjson_mut_is_obj(obj) ? yyjson_mut_obj_get(obj, key) : nullptr;
}

// Replaces obj's `key` with value, in its place.
void put(JsonBuild &b, yyjson_mut_val *obj, const char *key, yyjson_mut_val *value) noexcept {
    if (!b.ok() || !value) {
        b.check(false);
        return;
    }
    if (yyjson_mut_obj_get(obj, key)) {
        b.check(yyjson_mut_obj_replace(obj, yyjson_mut_str(b.doc(), key), value));
    } else {
        b.add(obj, key, value);
    }
}

}  // namespace

void ac_pm_auth_v21(JsonBuild &b, yyjson_mut_val *auth) noexcept {
    yyjson_mut_val *type = member(auth, "type");
    if (!yyjson_mut_is_str(type)) return;
    yyjson_mut_val *params = yyjson_mut_obj_getn(auth, yyjson_mut_get_str(type), yyjson_mut_get_len(type));
    if (!yyjson_mut_is_obj(params)) return;
    // Copies, never the nodes themselves: moving them would relink the
    // object being walked.
    yyjson_mut_val *list = b.arr();
    yyjson_mut_obj_iter it = yyjson_mut_obj_iter_with(params);
    for (yyjson_mut_val *k; b.ok() && (k = yyjson_mut_obj_iter_next(&it));) {
        yyjson_mut_val *v = yyjson_mut_obj_iter_get_val(k);
        yyjson_mut_val *entry = b.obj();
        b.add(entry, "key", b.text(yyjson_mut_get_str(k), yyjson_mut_get_len(k)));
        b.add(entry, "value", b.ok() ? yyjson_mut_val_mut_copy(b.doc(), v) : nullptr);
        b.add_text(entry, "type", param_type(v));
        b.append(list, entry);
    }
    if (!b.ok()) return;
    yyjson_mut_val *key = b.text(yyjson_mut_get_str(type), yyjson_mut_get_len(type));
    b.check(key && yyjson_mut_obj_replace(auth, key, list));
}

yyjson_mut_val *ac_pm_kept_root(JsonBuild &b, yyjson_val *document, yyjson_mut_val **items) noexcept {
    yyjson_mut_val *root = b.copy_without(document, "item");
    yyjson_mut_val *info = member(root, "info");
    if (!yyjson_mut_is_obj(info)) {
        info = b.obj();
        put(b, root, "info", info);
    }
    if (!yyjson_mut_is_str(member(info, "name"))) put(b, info, "name", b.text(ac_pm_export_name));
    put(b, info, "schema", b.text(schema_url));
    ac_pm_auth_v21(b, member(root, "auth"));
    *items = b.arr();
    put(b, root, "item", *items);
    return b.ok() ? root : nullptr;
}

yyjson_mut_val *ac_pm_kept_folder(JsonBuild &b, yyjson_val *folder, yyjson_mut_val **items) noexcept {
    yyjson_mut_val *out = b.obj();
    yyjson_obj_iter it = yyjson_obj_iter_with(folder);
    for (yyjson_val *k; b.ok() && (k = yyjson_obj_iter_next(&it));) {
        bool list = std::strcmp(yyjson_get_str(k), "item") == 0;
        yyjson_mut_val *key = b.text(yyjson_get_str(k), yyjson_get_len(k));
        yyjson_mut_val *value = list ? (*items = b.arr()) : b.copy(yyjson_obj_iter_get_val(k));
        b.check(out && key && value && yyjson_mut_obj_add(out, key, value));
    }
    ac_pm_auth_v21(b, member(out, "auth"));
    return b.ok() ? out : nullptr;
}

yyjson_mut_val *ac_pm_kept_item(JsonBuild &b, yyjson_val *item, const char *name, yyjson_mut_val *request,
                                yyjson_mut_val *behaviour) noexcept {
    yyjson_mut_val *out = b.copy(item);
    if (!out) return nullptr;
    yyjson_val *kept_name = yyjson_obj_get(item, "name");
    // A host that renamed the item wins; a name the file never gave stays out.
    const char *was = yyjson_is_str(kept_name) ? yyjson_get_str(kept_name) : "Request";
    if (std::strcmp(was, name) != 0) put(b, out, "name", b.text(name));
    if (request) {
        put(b, out, "request", request);
        yyjson_mut_val *kept = member(out, "protocolProfileBehavior");
        if (yyjson_mut_is_obj(kept)) {
            yyjson_mut_obj_remove_key(kept, "disableBodyPruning");
            yyjson_mut_obj_remove_key(kept, "disableUrlEncoding");
        }
        yyjson_mut_obj_iter it = yyjson_mut_obj_iter_with(behaviour);
        for (yyjson_mut_val *k; behaviour && (k = yyjson_mut_obj_iter_next(&it));) {
            if (!yyjson_mut_is_obj(kept)) {
                kept = b.obj();
                put(b, out, "protocolProfileBehavior", kept);
            }
            put(b, kept, yyjson_mut_get_str(k), b.ok() ? yyjson_mut_val_mut_copy(b.doc(), yyjson_mut_obj_iter_get_val(k)) : nullptr);
        }
        if (yyjson_mut_is_obj(kept) && yyjson_mut_obj_size(kept) == 0) yyjson_mut_obj_remove_key(out, "protocolProfileBehavior");
    }
    ac_pm_auth_v21(b, member(member(out, "request"), "auth"));
    yyjson_mut_val *response;
    yyjson_mut_arr_iter rit = yyjson_mut_arr_iter_with(member(out, "response"));
    while ((response = yyjson_mut_arr_iter_next(&rit))) {
        ac_pm_auth_v21(b, member(member(response, "originalRequest"), "auth"));
    }
    return b.ok() ? out : nullptr;
}
