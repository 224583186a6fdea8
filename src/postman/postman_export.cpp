// Writes the collection as a flat Postman v2.1 collection file.
#include <cstring>

#include "apiclient/apiclient.h"
#include "platform/platform.h"
#include "postman/postman.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

constexpr const char *export_name = "Exported Tovrane Collection";
constexpr const char *schema_url = "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

// Every string is copied into the output document, so each item's parsed JSON
// can go before the next item is asked for.
struct Builder {
    yyjson_mut_doc *doc;
    bool ok = true;

    yyjson_mut_val *obj() noexcept {
        yyjson_mut_val *v = yyjson_mut_obj(doc);
        ok = ok && v;
        return v;
    }
    void add(yyjson_mut_val *o, const char *key, yyjson_mut_val *v) noexcept {
        ok = ok && o && v && yyjson_mut_obj_add_val(doc, o, key, v);
    }
    void add_str(yyjson_mut_val *o, const char *key, yyjson_val *item, const char *member, const char *fallback) noexcept {
        yyjson_val *v = yyjson_obj_get(item, member);
        add(o, key, yyjson_is_str(v) ? yyjson_mut_strncpy(doc, yyjson_get_str(v), yyjson_get_len(v))
                                     : yyjson_mut_str(doc, fallback));
    }
};

yyjson_mut_val *header_array(Builder &b, yyjson_val *headers) noexcept {
    yyjson_mut_val *arr = yyjson_mut_arr(b.doc);
    b.ok = b.ok && arr;
    if (!yyjson_is_obj(headers) || !arr) return arr;
    yyjson_val *key, *value;
    yyjson_obj_iter it = yyjson_obj_iter_with(headers);
    while ((key = yyjson_obj_iter_next(&it))) {
        value = yyjson_obj_iter_get_val(key);
        yyjson_mut_val *entry = b.obj();
        b.add(entry, "key", yyjson_mut_strncpy(b.doc, yyjson_get_str(key), yyjson_get_len(key)));
        b.add(entry, "value", yyjson_is_str(value) ? yyjson_mut_strncpy(b.doc, yyjson_get_str(value), yyjson_get_len(value))
                                                   : yyjson_mut_str(b.doc, ""));
        b.ok = b.ok && yyjson_mut_arr_append(arr, entry);
    }
    return arr;
}

yyjson_mut_val *url_object(Builder &b, yyjson_val *item) noexcept {
    yyjson_mut_val *url = b.obj();
    yyjson_val *raw = yyjson_obj_get(item, "url");
    const char *text = yyjson_is_str(raw) ? yyjson_get_str(raw) : "";
    std::size_t len = yyjson_is_str(raw) ? yyjson_get_len(raw) : 0;
    b.add(url, "raw", yyjson_mut_strncpy(b.doc, text, len));
    // Postman's tools send the URL built from its parts, never "raw" alone.
    b.ok = b.ok && url && ac_postman_add_url_parts(b.doc, url, text, len);
    return url;
}

yyjson_mut_val *postman_item(Builder &b, yyjson_val *item) noexcept {
    yyjson_mut_val *entry = b.obj();
    b.add_str(entry, "name", item, "name", "Request");
    yyjson_mut_val *request = b.obj();
    b.add_str(request, "method", item, "method", "GET");
    b.add(request, "url", url_object(b, item));
    b.add(request, "header", header_array(b, yyjson_obj_get(item, "headers")));
    yyjson_val *body = yyjson_obj_get(item, "body");
    if (yyjson_is_str(body) && yyjson_get_len(body) > 0) {
        yyjson_mut_val *body_obj = b.obj();
        b.add_str(body_obj, "mode", item, "body_type", "raw");
        b.add_str(body_obj, "raw", item, "body", "");
        b.add(request, "body", body_obj);
    }
    b.add(entry, "request", request);
    return entry;
}

}  // namespace

extern "C" int api_export_postman(const char *path) noexcept {
    if (!path || !*path) {
        ac_set_error("api_export_postman: null or empty path");
        return 0;
    }
    unique_mut_doc doc(yyjson_mut_doc_new(nullptr));
    if (!doc) {
        ac_set_error("api_export_postman: failed to generate JSON");
        return 0;
    }
    Builder b{doc.get()};
    yyjson_mut_val *root = b.obj();
    yyjson_mut_val *info = b.obj();
    b.add(info, "name", yyjson_mut_str(b.doc, export_name));
    b.add(info, "schema", yyjson_mut_str(b.doc, schema_url));
    b.add(root, "info", info);
    yyjson_mut_val *items = yyjson_mut_arr(b.doc);
    b.add(root, "item", items);
    if (b.ok) yyjson_mut_doc_set_root(b.doc, root);

    int count = api_collection_count();
    for (int i = 0; i < count && b.ok; ++i) {
        const char *json = api_collection_get_json(i);
        unique_doc item(ac_json_read(json, std::strlen(json)));
        if (!item) continue;
        b.ok = b.ok && yyjson_mut_arr_append(items, postman_item(b, yyjson_doc_get_root(item.get())));
    }

    std::size_t len = 0;
    unique_cstr text(b.ok ? yyjson_mut_write_opts(b.doc, YYJSON_WRITE_PRETTY, nullptr, &len, nullptr) : nullptr);
    doc.reset();
    if (!text) {
        ac_set_error("api_export_postman: failed to generate JSON");
        return 0;
    }
    if (!ac_write_file_atomic(path, text.get(), len)) {
        ac_set_error("api_export_postman: failed to write to '%s'", path);
        return 0;
    }
    return 1;
}
