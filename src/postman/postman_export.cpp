// Writes the collection as a flat Postman v2.1 collection file.
#include <cstring>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "platform/platform.h"
#include "postman/postman.h"
#include "quorvane_apiclient.h"
#include "url/url.h"
#include "util/json_build.h"
#include "util/util.h"

namespace {

constexpr const char *export_name = "Exported Tovrane Collection";
constexpr const char *schema_url = "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

// Builds one Postman item in `doc`. Every text is copied: the item's parsed
// JSON is released before the next item is asked for.
class ItemBuilder {
public:
    ItemBuilder(yyjson_mut_doc *doc, yyjson_val *item) noexcept : b_(doc), item_(item) {}

    yyjson_mut_val *build() noexcept {
        yyjson_mut_val *out = b_.obj();
        copy_member(out, "name", "name", "Request");
        yyjson_mut_val *request = b_.obj();
        copy_member(request, "method", "method", "GET");
        b_.add(request, "url", url());
        b_.add(request, "header", headers());
        yyjson_val *body = yyjson_obj_get(item_, "body");
        if (yyjson_is_str(body) && yyjson_get_len(body) > 0) {
            yyjson_mut_val *b = b_.obj();
            copy_member(b, "mode", "body_type", "raw");
            copy_member(b, "raw", "body", "");
            b_.add(request, "body", b);
        }
        b_.add(out, "request", request);
        return b_.ok() ? out : nullptr;
    }

private:
    yyjson_mut_val *copy(yyjson_val *str) noexcept { return b_.text(yyjson_get_str(str), yyjson_get_len(str)); }
    void copy_member(yyjson_mut_val *to, const char *key, const char *member, const char *fallback) noexcept {
        yyjson_val *v = yyjson_obj_get(item_, member);
        b_.add(to, key, yyjson_is_str(v) ? copy(v) : b_.text(fallback));
    }

    yyjson_mut_val *url() noexcept {
        yyjson_val *raw = yyjson_obj_get(item_, "url");
        const char *text = yyjson_is_str(raw) ? yyjson_get_str(raw) : "";
        std::size_t len = yyjson_is_str(raw) ? yyjson_get_len(raw) : 0;
        yyjson_mut_val *u = b_.obj();
        b_.add_text(u, "raw", text, len);
        // Postman's tools send the URL built from its parts, never "raw" alone.
        b_.check(b_.ok() && ac_url_split(b_.doc(), u, text, len));
        return u;
    }

    yyjson_mut_val *headers() noexcept {
        yyjson_mut_val *arr = b_.arr();
        yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(item_, "headers"));
        for (yyjson_val *key; b_.ok() && (key = yyjson_obj_iter_next(&it));) {
            yyjson_val *value = yyjson_obj_iter_get_val(key);
            yyjson_mut_val *h = b_.obj();
            b_.add(h, "key", copy(key));
            b_.add(h, "value", yyjson_is_str(value) ? copy(value) : b_.text(""));
            b_.append(arr, h);
        }
        return arr;
    }

    JsonBuild b_;
    yyjson_val *item_;
};

// The whole document as pretty text, released with ac_free(); NULL when it
// cannot be built, with *no_memory set when memory ran out.
char *export_text(std::size_t *len, bool *no_memory) noexcept {
    *no_memory = true;
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    if (!doc) return nullptr;
    yyjson_mut_doc *d = doc.get();
    yyjson_mut_val *root = yyjson_mut_obj(d);
    yyjson_mut_val *info = yyjson_mut_obj(d);
    yyjson_mut_val *items = yyjson_mut_arr(d);
    bool ok = root && info && items && yyjson_mut_obj_add_str(d, info, "name", export_name) &&
              yyjson_mut_obj_add_str(d, info, "schema", schema_url) && yyjson_mut_obj_add_val(d, root, "info", info) &&
              yyjson_mut_obj_add_val(d, root, "item", items);
    int count = api_collection_count();
    for (int i = 0; ok && i < count; ++i) {
        // An item reads as "{}" only when memory ran out: never export a
        // default request in its place.
        const char *json = api_collection_get_json(i);
        unique_doc item(std::strcmp(json, "{}") == 0 ? nullptr : ac_json_read(json, std::strlen(json)));
        yyjson_mut_val *built = item ? ItemBuilder(d, yyjson_doc_get_root(item.get())).build() : nullptr;
        ok = built && yyjson_mut_arr_append(items, built);
    }
    if (!ok) return nullptr;
    yyjson_mut_doc_set_root(d, root);
    return ac_json_write_pretty(d, len, no_memory);
}

}  // namespace

extern "C" int api_export_postman(const char *path) noexcept {
    if (!path || !*path) {
        ac_set_error("api_export_postman: null or empty path");
        return 0;
    }
    std::size_t len = 0;
    bool no_memory = false;
    unique_cstr text(export_text(&len, &no_memory));
    if (!text) {
        ac_set_error(no_memory ? "api_export_postman: out of memory" : "api_export_postman: failed to generate JSON");
        return 0;
    }
    if (!ac_write_file_atomic(path, text.get(), len)) {
        ac_set_error("api_export_postman: failed to write to '%s'", path);
        return 0;
    }
    return 1;
}
