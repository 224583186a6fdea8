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
