// Picks one value out of the last response body by JSON Pointer, dotted path
// or top-level key, and returns it as compact JSON.
#include <cstring>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "apiclient/response.h"
#include "jsonbridge/jsonbridge.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

// Kept until the next query replaces it; a value of any length comes back whole.
ResultBuf s_json_query_buf;

// The last response body, parsed by the first query into it and kept until
// the response changes (ac_json_query_forget), so that many queries into a
// large body parse it once. A body that is not JSON is remembered as such.
unique_doc s_body_doc;
bool s_body_read = false;
bool s_body_not_json = false;

yyjson_val *key_lookup(yyjson_val *root, const char *path) noexcept {
    return yyjson_is_obj(root) ? yyjson_obj_getn(root, path, std::strlen(path)) : nullptr;
}

yyjson_val *select_value(yyjson_val *root, const char *path) noexcept {
    yyjson_val *found = nullptr;
    if (path[0] == '/') {
        found = yyjson_ptr_getx(root, path, std::strlen(path), nullptr);
    } else if (path[0] == '.' || (path[0] == '$' && path[1] == '.')) {
        char pointer[json_pointer_size];
        std::size_t len = ac_dotted_to_pointer(path[0] == '$' ? path + 1 : path, pointer);
        found = yyjson_ptr_getx(root, pointer, len, nullptr);
    }
    return found ? found : key_lookup(root, path);
}

}  // namespace

std::size_t ac_dotted_to_pointer(const char *dotted, char out[json_pointer_size]) noexcept {
    constexpr std::size_t max_out = json_pointer_size - 2;
    std::size_t n = 0;
    const char *p = dotted;
    while (*p && n < max_out) {
        if (*p == '.') {
            out[n++] = '/';
            ++p;
        } else if (*p == '[') {
            out[n++] = '/';
            ++p;
            while (*p && *p != ']' && n < max_out) out[n++] = *p++;
            if (*p != ']') break;  // an unclosed bracket ends the path
            ++p;
        } else {
            out[n++] = *p++;
        }
    }
    out[n] = '\0';
    return n;
}

namespace {
const char *out_of_memory() noexcept {
    ac_set_error("api_json_query: out of memory");
    return "";
}
}  // namespace

extern "C" const char *api_json_query(const char *path) noexcept {
    // A pointer from an earlier call reads "" after any failure of this one.
    s_json_query_buf.clear();
    if (!path || !*path) {
        ac_set_error("api_json_query: empty path");
        return "";
    }
    if (g_response_body.c_str()[0] == '\0') {
        ac_set_error("api_json_query: no response body to query");
        return "";
    }
    if (!s_body_read) {
        yyjson_read_err err{};
        s_body_doc.reset(ac_json_read(g_response_body.c_str(), g_response_body.len(), &err));
        // Running out of memory is not a property of the body: the next query tries again.
        if (!s_body_doc && ac_json_no_memory(err)) return out_of_memory();
        s_body_read = true;
        s_body_not_json = !s_body_doc;
    }
    if (s_body_not_json) {
        ac_set_error("api_json_query: response body is not valid JSON");
        return "";
    }
    yyjson_val *value = select_value(yyjson_doc_get_root(s_body_doc.get()), path);
    if (!value) {
        ac_set_error("api_json_query: path '%s' not found", path);
        return "";
    }
    std::size_t len = 0;
    unique_cstr text(yyjson_val_write_opts(value, 0, ac_alc(), &len, nullptr));
    const char *result = text ? s_json_query_buf.set(text.get(), len, nullptr) : nullptr;
    return result ? result : out_of_memory();
}

void ac_json_query_forget() noexcept {
    s_body_doc.reset();
    s_body_read = false;
    s_body_not_json = false;
}

void ac_json_query_cleanup() noexcept {
    ac_json_query_forget();
    s_json_query_buf.release();
}
