// api_env_load on a fuzzed environment file, over an environment that
// already holds one variable. Invariants: a failed load changes nothing; a
// successful one never empties api_env_json, which lists exactly the
// variables worked out independently from the file, in order, and
// api_env_get returns each value.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "quorvane_apiclient.h"
#include "support.h"

namespace {

constexpr std::size_t max_variables = 1000;
constexpr std::size_t get_limit = 8191;
// Values that are not strings are written as text of at most this many bytes.
constexpr std::size_t value_limit = 511;

using Variables = std::vector<std::pair<std::string, std::string>>;

void set(Variables &vars, const std::string &key, const std::string &value) {
    if (key.empty()) return;
    for (auto &[k, v] : vars) {
        if (k == key) {
            v = value;
            return;
        }
    }
    if (vars.size() < max_variables) vars.emplace_back(key, value);
}

// The longest prefix of at most `limit` bytes that ends on a character boundary.
std::string cut_utf8(const std::string &s, std::size_t limit) {
    if (s.size() <= limit) return s;
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

std::string value_text(yyjson_val *v) {
    if (yyjson_is_str(v)) return fuzz_cstr(v);
    char text[64];
    if (yyjson_is_sint(v)) {
        std::snprintf(text, sizeof text, "%" PRId64, yyjson_get_sint(v));
    } else if (yyjson_is_uint(v)) {
        std::snprintf(text, sizeof text, "%" PRIu64, yyjson_get_uint(v));
    } else if (yyjson_is_real(v)) {
        std::snprintf(text, sizeof text, "%g", yyjson_get_real(v));
    } else {
        return cut_utf8(fuzz_json(v), value_limit);
    }
    return text;
}

std::string describe(const Variables &vars) {
    std::string out;
    for (const auto &[k, v] : vars) out += k + "=" + v + "\n";
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_reset();
    FUZZ_CHECK(api_env_set("seed", "kept") == 1, api_last_error());
    Variables expected{{"seed", "kept"}};
    const std::string path = fuzz_temp_path("env.json");
    fuzz_write_file(path, data, size);

    FuzzDoc doc = fuzz_parse(std::string_view(reinterpret_cast<const char *>(data), size));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    int loaded = api_env_load(path.c_str());
    FUZZ_CHECK(loaded == (yyjson_is_obj(root) ? 1 : 0),
               std::string("api_env_load returned ") + std::to_string(loaded) + ": " + api_last_error());
    if (!loaded) FUZZ_CHECK(std::string(api_last_error()).rfind("api_env_load: ", 0) == 0, api_last_error());
    if (loaded) {
        std::size_t idx, max;
        yyjson_val *key, *value;
        yyjson_obj_foreach(root, idx, max, key, value) set(expected, fuzz_cstr(key), value_text(value));
    }

    std::string listing = api_env_json();
    FuzzDoc listed = fuzz_parse(listing);
    yyjson_val *obj = listed ? yyjson_doc_get_root(listed.get()) : nullptr;
    FUZZ_CHECK(yyjson_is_obj(obj) && yyjson_obj_size(obj) > 0, "api_env_json gave " + listing);
    Variables got;
    std::size_t idx, max;
    yyjson_val *key, *value;
    yyjson_obj_foreach(obj, idx, max, key, value) got.emplace_back(fuzz_cstr(key), fuzz_cstr(value));
    FUZZ_CHECK(got == expected, "listed:\n" + describe(got) + "expected:\n" + describe(expected));
    for (const auto &[k, v] : expected) {
        std::string read = api_env_get(k.c_str());
        FUZZ_CHECK(read == v.substr(0, get_limit), "api_env_get(" + k + ") gave " + read);
    }
    return 0;
}
