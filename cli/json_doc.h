// yyjson owners and small readers for the program.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include <yyjson.h>

struct JsonDocDeleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
struct JsonMutDocDeleter {
    void operator()(yyjson_mut_doc *d) const noexcept { yyjson_mut_doc_free(d); }
};
using JsonDoc = std::unique_ptr<yyjson_doc, JsonDocDeleter>;
using JsonMutDoc = std::unique_ptr<yyjson_mut_doc, JsonMutDocDeleter>;

inline JsonDoc parse_json(std::string_view text) {
    return JsonDoc(yyjson_read(text.data(), text.size(), 0));
}

inline const char *json_str(yyjson_val *obj, const char *key, const char *fallback = "") {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_str(v) ? yyjson_get_str(v) : fallback;
}

inline long long json_int(yyjson_val *obj, const char *key, long long fallback) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_int(v) ? yyjson_get_sint(v) : fallback;
}

// The text of a scalar as Postman files hold variable values: strings as
// they are, numbers and booleans as written, anything else "".
inline std::string json_scalar_text(yyjson_val *v) {
    if (yyjson_is_str(v)) return std::string(yyjson_get_str(v), yyjson_get_len(v));
    if (!yyjson_is_num(v) && !yyjson_is_bool(v)) return "";
    char *text = yyjson_val_write(v, 0, nullptr);
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

// Compact or pretty text of a mutable document; "" when it cannot be written.
inline std::string json_write(yyjson_mut_doc *doc, bool pretty = false) {
    std::size_t len = 0;
    char *text = yyjson_mut_write(doc, pretty ? YYJSON_WRITE_PRETTY_TWO_SPACES : 0, &len);
    std::string out = text ? std::string(text, len) : "";
    std::free(text);
    return out;
}
