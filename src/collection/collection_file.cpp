#include <cstdint>
#include <cstring>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "collection/collection.h"
#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

// The array of item objects: "requests" wins over "item" even when it is not
// an array, and a bare array stands for itself.
yyjson_val *find_requests(yyjson_val *root) noexcept {
    if (yyjson_is_arr(root)) return root;
    if (!yyjson_is_obj(root)) return nullptr;
    if (yyjson_val *requests = yyjson_obj_get(root, "requests")) return yyjson_is_arr(requests) ? requests : nullptr;
    yyjson_val *item = yyjson_obj_get(root, "item");
    return yyjson_is_arr(item) ? item : nullptr;
}

}  // namespace

extern "C" int api_collection_save(const char *path) noexcept {
    if (!path || !*path) {
        ac_set_error("api_collection_save: null or empty path");
        return 0;
    }
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    yyjson_mut_val *root = doc ? yyjson_mut_obj(doc.get()) : nullptr;
    yyjson_mut_val *requests = root ? yyjson_mut_arr(doc.get()) : nullptr;
    bool built = requests && yyjson_mut_obj_add_str(doc.get(), root, "version", "1.0.0") &&
                 yyjson_mut_obj_add_val(doc.get(), root, "requests", requests);
    int count = api_collection_count();
    for (int i = 0; built && i < count; ++i) {
        yyjson_mut_val *item = ac_collection_item_json(doc.get(), i);
        built = item && yyjson_mut_arr_append(requests, item);
    }
    // The collection's document follows its requests, whose indexes it names.
    unique_doc document;
    if (const char *text = ac_collection_document()) {
        document.reset(ac_json_read(text, std::strlen(text)));
        yyjson_mut_val *copy = document ? yyjson_val_mut_copy(doc.get(), yyjson_doc_get_root(document.get())) : nullptr;
        built = built && copy && yyjson_mut_obj_add_val(doc.get(), root, "postman", copy);
    }
    if (!built) {
        ac_set_error("api_collection_save: out of memory");
        return 0;
    }
    yyjson_mut_doc_set_root(doc.get(), root);
    std::size_t len = 0;
    bool no_memory = false;
    unique_cstr text(ac_json_write_pretty(doc.get(), &len, &no_memory));
    if (!text) {
        ac_set_error(no_memory ? "api_collection_save: out of memory" : "api_collection_save: failed to serialize JSON");
        return 0;
    }
    if (!ac_write_file_atomic(path, text.get(), len)) {
        ac_set_error("api_collection_save: failed to write to '%s'", path);
        return 0;
    }
    return 1;
}

extern "C" int api_collection_load(const char *path) noexcept {
    unique_doc doc(ac_json_load_file("api_collection_load", path));
    if (!doc) return 0;
    yyjson_val *requests = find_requests(yyjson_doc_get_root(doc.get()));
    if (!requests) {
        ac_set_error("api_collection_load: no requests array found in '%s'", path);
        return 0;
    }
    // Only now is the file known to hold a collection: replace, never append.
    // A dropped element leaves its message; the load goes on.
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    yyjson_val *document = yyjson_is_obj(root) ? yyjson_obj_get(root, "postman") : nullptr;
    if (!yyjson_is_obj(document)) document = nullptr;
    if (!ac_collection_replace(requests, nullptr, document)) {
        ac_set_error("api_collection_load: out of memory");
        return 0;
    }
    return 1;
}
