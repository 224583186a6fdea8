#include "util/util.h"

#include "apiclient/apiclient.h"
#include "util/alloc.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

void ac_copy_text(char *dst, std::size_t cap, const char *src) noexcept {
    if (cap == 0) return;
    std::size_t n = src ? std::strlen(src) : 0;
    if (n >= cap) n = cap - 1;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

char *ac_strdup(const char *src) noexcept {
    if (!src) return nullptr;
    std::size_t n = std::strlen(src) + 1;
    char *p = static_cast<char *>(ac_malloc(n));
    if (p) std::memcpy(p, src, n);
    return p;
}

std::size_t ac_utf8_cut(const char *s, std::size_t len, std::size_t max) noexcept {
    if (len <= max) return len;
    auto continuation = [s](std::size_t i) { return (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; };
    if (!continuation(max)) return max;
    // s[max] continues a character that began at most three bytes earlier: drop it whole.
    std::size_t k = max;
    while (k > 0 && max - k < 3 && continuation(k)) --k;
    return continuation(k) ? max : k;
}

void ac_copy_text_utf8(char *dst, std::size_t cap, const char *src) noexcept {
    if (cap == 0) return;
    std::size_t n = src ? std::strlen(src) : 0;
    n = ac_utf8_cut(src, n, cap - 1);
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

std::size_t ac_utf8_valid_prefix(const char *s, std::size_t len) noexcept {
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    std::size_t i = 0;
    while (i < len) {
        unsigned char c = p[i];
        if (c < 0x80) { ++i; continue; }
        std::size_t extra;
        unsigned min;
        unsigned cp;
        if ((c & 0xE0) == 0xC0) { extra = 1; min = 0x80; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; min = 0x800; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; min = 0x10000; cp = c & 0x07; }
        else return i;
        if (len - i <= extra) return i;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
        i += extra + 1;
    }
    return len;
}

bool ac_utf8_valid(const char *s, std::size_t len) noexcept { return ac_utf8_valid_prefix(s, len) == len; }

bool ac_ascii_ieq(const char *a, const char *b) noexcept {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
        if (x == 0) return true;
    }
}

yyjson_doc *ac_json_read(const char *text, std::size_t len, yyjson_read_err *err) noexcept {
    // Without YYJSON_READ_INSITU the reader copies and never writes the input.
    return yyjson_read_opts(const_cast<char *>(text), len, 0, ac_alc(), err);
}

yyjson_doc *ac_json_read_file(const char *path, JsonFile *status, yyjson_read_err *err) noexcept {
    std::uint64_t size = 0;
    bool no_memory = false;
    unique_cstr content(ac_read_file(path, &size, &no_memory));
    if (!content) {
        *status = no_memory ? JsonFile::no_memory : JsonFile::unreadable;
        return nullptr;
    }
    yyjson_read_err local{};
    yyjson_read_err &e = err ? *err : local;
    yyjson_doc *doc = ac_json_read(content.get(), static_cast<std::size_t>(size), &e);
    *status = doc ? JsonFile::ok : ac_json_no_memory(e) ? JsonFile::no_memory : JsonFile::invalid;
    return doc;
}

yyjson_doc *ac_json_load_file(const char *fn, const char *path) noexcept {
    if (!path || !*path) {
        ac_set_error("%s: null or empty path", fn);
        return nullptr;
    }
    JsonFile status = JsonFile::ok;
    yyjson_doc *doc = ac_json_read_file(path, &status);
    switch (status) {
    case JsonFile::ok: return doc;
    case JsonFile::no_memory: ac_set_error("%s: out of memory", fn); break;
    case JsonFile::unreadable: ac_set_error("%s: could not read '%s'", fn, path); break;
    case JsonFile::invalid: ac_set_error("%s: invalid JSON in '%s'", fn, path); break;
    }
    return nullptr;
}

char *ac_json_write_pretty(yyjson_mut_doc *doc, std::size_t *len, bool *no_memory) noexcept {
    yyjson_write_err err{};
    char *text = yyjson_mut_write_opts(doc, YYJSON_WRITE_PRETTY, ac_alc(), len, &err);
    *no_memory = !text && err.code == YYJSON_WRITE_ERROR_MEMORY_ALLOCATION;
    return text;
}

const char *ac_json_str(yyjson_val *obj, const char *key, const char *fallback) noexcept {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_str(v) ? yyjson_get_str(v) : fallback;
}

const char *ac_json_scalar(yyjson_val *v, std::size_t *len, char (&scratch)[40]) noexcept {
    int n = -1;
    if (yyjson_is_str(v)) {
        *len = yyjson_get_len(v);
        return yyjson_get_str(v);
    }
    if (yyjson_is_bool(v)) {
        *len = yyjson_get_bool(v) ? 4 : 5;
        return yyjson_get_bool(v) ? "true" : "false";
    }
    if (yyjson_is_uint(v)) n = std::snprintf(scratch, sizeof scratch, "%" PRIu64, yyjson_get_uint(v));
    if (yyjson_is_sint(v)) n = std::snprintf(scratch, sizeof scratch, "%" PRId64, yyjson_get_sint(v));
    if (yyjson_is_real(v)) n = std::snprintf(scratch, sizeof scratch, "%.17g", yyjson_get_real(v));
    if (n < 0) return nullptr;
    *len = static_cast<std::size_t>(n) < sizeof scratch ? static_cast<std::size_t>(n) : sizeof scratch - 1;
    return scratch;
}

std::size_t ac_json_depth(yyjson_val *v, std::size_t limit) noexcept {
    if (!yyjson_is_ctn(v)) return 0;
    if (limit == 0) return 1;
    std::size_t deepest = 0;
    std::size_t idx, max;
    yyjson_val *key, *child;
    if (yyjson_is_arr(v)) {
        yyjson_arr_foreach(v, idx, max, child) {
            std::size_t d = ac_json_depth(child, limit - 1);
            if (d > deepest) deepest = d;
            if (deepest >= limit) break;
        }
    } else {
        yyjson_obj_foreach(v, idx, max, key, child) {
            std::size_t d = ac_json_depth(child, limit - 1);
            if (d > deepest) deepest = d;
            if (deepest >= limit) break;
        }
    }
    return deepest + 1;
}

yyjson_doc *ac_json_read_arg(const char *fn, const char *name, const char *text, const char *invalid) noexcept {
    if (!text || !*text) {
        ac_set_error("%s: missing %s", fn, name);
        return nullptr;
    }
    yyjson_read_err err{};
    yyjson_doc *doc = ac_json_read(text, std::strlen(text), &err);
    if (!doc) ac_set_error("%s: %s", fn, err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION ? "out of memory" : invalid);
    return doc;
}
