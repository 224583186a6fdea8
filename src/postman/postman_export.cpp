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

void write_member(JsonWriter &w, const char *key, yyjson_val *item, const char *member, const char *fallback) noexcept {
    yyjson_val *v = yyjson_obj_get(item, member);
    w.key(key);
    if (yyjson_is_str(v)) {
        w.string(yyjson_get_str(v), yyjson_get_len(v));
    } else {
        w.string(fallback);
    }
}

void write_headers(JsonWriter &w, yyjson_val *headers) noexcept {
    w.key("header");
    w.begin_array();
    yyjson_val *key;
    yyjson_obj_iter it = yyjson_obj_iter_with(headers);
    while ((key = yyjson_obj_iter_next(&it))) {
        yyjson_val *value = yyjson_obj_iter_get_val(key);
        w.begin_object();
        w.key("key");
        w.string(yyjson_get_str(key), yyjson_get_len(key));
        w.key("value");
        if (yyjson_is_str(value)) {
            w.string(yyjson_get_str(value), yyjson_get_len(value));
        } else {
            w.string("");
        }
        w.end_object();
    }
    w.end_array();
}

void write_url(JsonWriter &w, yyjson_val *item) noexcept {
    yyjson_val *raw = yyjson_obj_get(item, "url");
    const char *text = yyjson_is_str(raw) ? yyjson_get_str(raw) : "";
    std::size_t len = yyjson_is_str(raw) ? yyjson_get_len(raw) : 0;
    w.key("url");
    w.begin_object();
    w.key("raw");
    w.string(text, len);
    // Postman's tools send the URL built from its parts, never "raw" alone.
    ac_postman_write_url_parts(w, text, len);
    w.end_object();
}

void write_item(JsonWriter &w, yyjson_val *item) noexcept {
    w.begin_object();
    write_member(w, "name", item, "name", "Request");
    w.key("request");
    w.begin_object();
    write_member(w, "method", item, "method", "GET");
    write_url(w, item);
    write_headers(w, yyjson_obj_get(item, "headers"));
    yyjson_val *body = yyjson_obj_get(item, "body");
    if (yyjson_is_str(body) && yyjson_get_len(body) > 0) {
        w.key("body");
        w.begin_object();
        write_member(w, "mode", item, "body_type", "raw");
        write_member(w, "raw", item, "body", "");
        w.end_object();
    }
    w.end_object();
    w.end_object();
}

}  // namespace

extern "C" int api_export_postman(const char *path) noexcept {
    if (!path || !*path) {
        ac_set_error("api_export_postman: null or empty path");
        return 0;
    }
    // The text is written straight from each item's JSON, which is parsed
    // before the next item is asked for; nothing refers to it afterwards.
    JsonWriter w(true);
    w.begin_object();
    w.key("info");
    w.begin_object();
    w.key("name");
    w.string(export_name);
    w.key("schema");
    w.string(schema_url);
    w.end_object();
    w.key("item");
    w.begin_array();
    int count = api_collection_count();
    for (int i = 0; i < count && w.ok(); ++i) {
        const char *json = api_collection_get_json(i);
        unique_doc item(ac_json_read(json, std::strlen(json)));
        if (item) write_item(w, yyjson_doc_get_root(item.get()));
    }
    w.end_array();
    w.end_object();
    if (!w.ok()) {
        ac_set_error("api_export_postman: failed to generate JSON");
        return 0;
    }
    if (!ac_write_file_atomic(path, w.text(), w.size())) {
        ac_set_error("api_export_postman: failed to write to '%s'", path);
        return 0;
    }
    return 1;
}
