// Reading JSON in tests that see only the public header, as hosts do.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include <yyjson.h>

struct JsonDocDeleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
using JsonDoc = std::unique_ptr<yyjson_doc, JsonDocDeleter>;

inline JsonDoc parse_json(std::string_view text) { return JsonDoc(yyjson_read(text.data(), text.size(), 0)); }

// String member of an object, or `fallback` when missing or not a string.
inline const char *json_str(yyjson_val *obj, const char *key, const char *fallback = "") {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_str(v) ? yyjson_get_str(v) : fallback;
}

// Compact text of a value.
inline std::string json_text(yyjson_val *v) {
    char *text = yyjson_val_write(v, 0, nullptr);
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

// An object's compact text without its member `key` (the other members in
// their order); the text itself when it is no object.
inline std::string json_without(const std::string &text, const char *key) {
    JsonDoc doc = parse_json(text);
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) return text;
    std::string out = "{";
    yyjson_obj_iter it = yyjson_obj_iter_with(root);
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        if (std::string_view(yyjson_get_str(k)) == key) continue;
        out += (out.size() > 1 ? "," : "") + json_text(k) + ":" + json_text(yyjson_obj_iter_get_val(k));
    }
    return out + "}";
}
