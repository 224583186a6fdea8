#include "collection_model.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support.h"

namespace {

// Nesting depth (a scalar is 0, [] is 1), counted no further than cap.
int depth(yyjson_val *v, int cap) {
    if (!yyjson_is_ctn(v)) return 0;
    if (cap <= 1) return 1;
    int deepest = 0;
    std::size_t idx, max;
    yyjson_val *key, *child;
    if (yyjson_is_obj(v)) {
        yyjson_obj_foreach(v, idx, max, key, child) deepest = std::max(deepest, depth(child, cap - 1));
    } else {
        yyjson_arr_foreach(v, idx, max, child) deepest = std::max(deepest, depth(child, cap - 1));
    }
    return deepest + 1;
}

// A UTF-8 check of its own, so a fault in the library's cannot hide.
bool valid_utf8(const std::string &s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || s.size() - i <= static_cast<std::size_t>(extra)) return false;
        std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((b >> 6) != 2) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        static const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// The member's compact JSON text, or "{}" when it is missing.
std::string member_json(yyjson_val *root, const char *key) {
    yyjson_val *v = yyjson_obj_get(root, key);
    return v ? fuzz_json(v) : "{}";
}

// FNV-1a over the request's stored texts, each with its NUL, in 16 hex digits.
std::string fingerprint(const std::vector<std::string> &fields) {
    std::uint64_t h = 14695981039346656037ull;
    for (const std::string &f : fields) {
        for (char c : f) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        h *= 1099511628211ull;  // the NUL: h ^ 0 == h
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

}  // namespace

std::optional<std::string> expected_item_json(const std::string &folder, yyjson_val *root) {
    if (!yyjson_is_obj(root)) return std::nullopt;
    if (depth(yyjson_obj_get(root, "headers"), model_max_depth + 2) > model_max_depth) return std::nullopt;
    if (depth(yyjson_obj_get(root, "auth"), model_max_depth + 2) > model_max_depth) return std::nullopt;
    if (depth(yyjson_obj_get(root, "postman"), model_max_depth + 2) > model_max_depth) return std::nullopt;
    std::string folder_text = folder.substr(0, folder.find('\0'));
    if (!valid_utf8(folder_text)) return std::nullopt;

    std::string texts[] = {
        folder_text,
        fuzz_cstr_member(root, "name", "Untitled Request"),
        fuzz_cstr_member(root, "method", "GET"),
        fuzz_cstr_member(root, "url", ""),
        fuzz_cstr_member(root, "body", ""),
        fuzz_cstr_member(root, "body_type", "raw"),
    };
    const char *keys[] = {"folder", "name", "method", "url", "body", "body_type"};
    std::string out = "{";
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        yyjson_mut_val *s = yyjson_mut_strn(doc, texts[i].data(), texts[i].size());
        yyjson_mut_doc_set_root(doc, s);
        std::size_t len = 0;
        char *quoted = yyjson_mut_write_opts(doc, 0, nullptr, &len, nullptr);
        out += std::string(i ? ",\"" : "\"") + keys[i] + "\":" + std::string(quoted, len);
        std::free(quoted);
    }
    yyjson_mut_doc_free(doc);
    out += ",\"headers\":" + member_json(root, "headers") + ",\"auth\":" + member_json(root, "auth");
    bool verbatim = yyjson_is_true(yyjson_obj_get(root, "verbatim"));
    if (verbatim) out += ",\"verbatim\":true";
    // An object "postman" is kept, with the fingerprint of the request's
    // texts as "sent" when it has no string of that name.
    yyjson_val *kept = yyjson_obj_get(root, "postman");
    if (yyjson_is_obj(kept)) {
        std::string text = fuzz_json(kept);
        if (!yyjson_is_str(yyjson_obj_get(kept, "sent"))) {
            std::string hex = fingerprint({texts[2], texts[3], texts[4], texts[5], member_json(root, "headers"),
                                           member_json(root, "auth"), verbatim ? "1" : "0"});
            text.insert(text.size() - 1, std::string(yyjson_obj_size(kept) ? "," : "") + "\"sent\":\"" + hex + "\"");
        }
        out += ",\"postman\":" + text;
    }
    return out + "}";
}
