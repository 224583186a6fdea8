// Request bodies by mode, as the runner sends them.
#include <cstring>

#include "postman/postman_full.h"
#include "util/alloc.h"
#include "util/owners.h"
#include "util/util.h"

namespace {

constexpr const char *form_type = "application/x-www-form-urlencoded";

bool is(yyjson_val *v, const char *text) noexcept { return yyjson_is_str(v) && std::strcmp(yyjson_get_str(v), text) == 0; }

bool starts_with_nocase(const char *s, const char *prefix) noexcept {
    std::size_t n = std::strlen(prefix);
    if (std::strlen(s) < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
        if (c != prefix[i]) return false;
    }
    return true;
}

// Removes // and /* */ comments outside strings; a // comment ends before its
// newline, a /* */ one takes its newlines with it. Nothing is validated.
bool strip_comments(DynBuf &out, const char *s, std::size_t len) noexcept {
    std::size_t run = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < len;) {
        char c = s[i];
        if (in_string) {
            if (c == '\\') {
                i += 2;
                continue;
            }
            in_string = c != '"';
            ++i;
            continue;
        }
        if (c == '"') {
            in_string = true;
            ++i;
            continue;
        }
        if (c != '/' || i + 1 >= len || (s[i + 1] != '/' && s[i + 1] != '*')) {
            ++i;
            continue;
        }
        if (!out.append(s + run, i - run)) return false;
        std::size_t end = len;
        if (s[i + 1] == '/') {
            const void *nl = std::memchr(s + i, '\n', len - i);
            if (nl) end = static_cast<std::size_t>(static_cast<const char *>(nl) - s);
        } else {
            for (std::size_t k = i + 2; k + 1 < len; ++k) {
                if (s[k] == '*' && s[k + 1] == '/') {
                    end = k + 2;
                    break;
                }
            }
        }
        i = run = end;
    }
    return out.append(s + run, (len > run ? len - run : 0));
}

// As measured against the runner.
constexpr const char *pruned_methods[] = {"GET", "HEAD", "COPY", "PURGE", "UNLOCK"};

bool urlencoded(const PmPlace &at, yyjson_val *pairs, PmHeaders &headers, PmBody &out) noexcept {
    yyjson_val *pair;
    yyjson_arr_iter it = yyjson_arr_iter_with(pairs);
    bool first = true;
    while ((pair = yyjson_arr_iter_next(&it))) {
        if (!yyjson_is_obj(pair) || yyjson_is_true(yyjson_obj_get(pair, "disabled"))) continue;
        char ks[40], vs[40];
        std::size_t klen = 0, vlen = 0;
        const char *key = ac_json_scalar(yyjson_obj_get(pair, "key"), &klen, ks);
        const char *value = ac_json_scalar(yyjson_obj_get(pair, "value"), &vlen, vs);
        if (!(first || out.text.append_byte('&')) || !ac_url_encode(out.text, key ? key : "", key ? klen : 0, UrlSet::form) ||
            !out.text.append_byte('=') || !ac_url_encode(out.text, value ? value : "", value ? vlen : 0, UrlSet::form))
            return false;
        first = false;
    }
    if (first) return true;  // every pair switched off: no body, no Content-Type
    out.type = "form";
    long ct = headers.find("Content-Type");
    if (ct >= 0 && !starts_with_nocase(headers.value(ct), form_type)) {
        ac_pm_note(at, "header", "Content-Type '%s' replaced by %s, as the runner does", headers.value(ct), form_type);
        return headers.set_value(ct, form_type, std::strlen(form_type));
    }
    return true;
}

bool add_file_part(yyjson_mut_doc *doc, yyjson_mut_val *parts, yyjson_val *key, yyjson_val *src, yyjson_val *type) noexcept {
    yyjson_mut_val *part = yyjson_mut_obj(doc);
    const char *path = yyjson_get_str(src);
    std::size_t len = yyjson_get_len(src);
    std::size_t base = len;
    while (base > 0 && path[base - 1] != '/') --base;
    bool own_type = yyjson_is_str(type) && yyjson_get_len(type) > 0;
    return part && yyjson_mut_arr_append(parts, part) &&
           yyjson_mut_obj_add_strncpy(doc, part, "name", yyjson_get_str(key) ? yyjson_get_str(key) : "", yyjson_get_len(key)) &&
           yyjson_mut_obj_add_strncpy(doc, part, "file", path, len) &&
           yyjson_mut_obj_add_strcpy(doc, part, "content_type", own_type ? yyjson_get_str(type) : ac_pm_file_type(path, len)) &&
           yyjson_mut_obj_add_strncpy(doc, part, "filename", path + base, len - base);
}

bool formdata(const PmPlace &at, yyjson_val *entries, PmHeaders &headers, PmBody &out) noexcept {
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    yyjson_mut_val *parts = doc ? yyjson_mut_arr(doc.get()) : nullptr;
    if (!parts) return false;
    yyjson_mut_doc *d = doc.get();
    yyjson_val *entry;
    yyjson_arr_iter it = yyjson_arr_iter_with(entries);
    while ((entry = yyjson_arr_iter_next(&it))) {
        if (!yyjson_is_obj(entry) || yyjson_is_true(yyjson_obj_get(entry, "disabled"))) continue;
        yyjson_val *key = yyjson_obj_get(entry, "key");
        if (!yyjson_is_str(key)) key = nullptr;
        yyjson_val *type = yyjson_obj_get(entry, "contentType");
        if (is(yyjson_obj_get(entry, "type"), "file")) {
            yyjson_val *src = yyjson_obj_get(entry, "src");
            bool any = false;
            yyjson_val *one;
            yyjson_arr_iter files = yyjson_arr_iter_with(src);
            // One part a file, all with the part's name.
            while ((one = yyjson_is_arr(src) ? yyjson_arr_iter_next(&files) : nullptr)) {
                if (!yyjson_is_str(one) || yyjson_get_len(one) == 0) continue;
                if (!add_file_part(d, parts, key, one, type)) return false;
                any = true;
            }
            if (yyjson_is_str(src) && yyjson_get_len(src) > 0) {
                if (!add_file_part(d, parts, key, src, type)) return false;
                any = true;
            }
            if (!any) ac_pm_note(at, "body", "file part '%s' names no file: not sent", key ? yyjson_get_str(key) : "");
            continue;
        }
        char vs[40];
        std::size_t vlen = 0;
        const char *value = ac_json_scalar(yyjson_obj_get(entry, "value"), &vlen, vs);
        yyjson_mut_val *part = yyjson_mut_obj(d);
        bool ok = part && yyjson_mut_arr_append(parts, part) &&
                  yyjson_mut_obj_add_strncpy(d, part, "name", key ? yyjson_get_str(key) : "", yyjson_get_len(key)) &&
                  yyjson_mut_obj_add_strncpy(d, part, "value", value ? value : "", value ? vlen : 0);
        if (ok && yyjson_is_str(type) && yyjson_get_len(type) > 0)
            ok = yyjson_mut_obj_add_strcpy(d, part, "content_type", yyjson_get_str(type));
        if (!ok) return false;
    }
    if (yyjson_mut_arr_size(parts) == 0) return true;
    yyjson_mut_doc_set_root(d, parts);
    std::size_t len = 0;
    unique_cstr text(yyjson_mut_write_opts(d, 0, ac_alc(), &len, nullptr));
    if (!text || !out.text.append(text.get(), len)) return false;
    out.type = "multipart";
    if (long ct = headers.find("Content-Type"); ct >= 0) {
        ac_pm_note(at, "header", "own Content-Type '%s' dropped: multipart/form-data with its boundary is sent, as the runner does",
                   headers.value(ct));
        headers.remove(ct);
    }
    return true;
}

bool graphql(yyjson_val *gql, PmBody &out) noexcept {
    char qs[40];
    std::size_t qlen = 0;
    const char *query = ac_json_scalar(yyjson_obj_get(gql, "query"), &qlen, qs);
    if (!out.text.append("{\"query\":") || !ac_pm_json_string(out.text, query ? query : "", query ? qlen : 0)) return false;
    yyjson_val *vars = yyjson_obj_get(gql, "variables");
    // The variables text goes in as it is, valid JSON or not.
    if (yyjson_is_str(vars) && yyjson_get_len(vars) > 0) {
        if (!out.text.append(",\"variables\":") || !out.text.append(yyjson_get_str(vars), yyjson_get_len(vars))) return false;
    } else if (vars && !yyjson_is_str(vars) && !yyjson_is_null(vars)) {
        std::size_t len = 0;
        unique_cstr text(yyjson_val_write_opts(vars, 0, ac_alc(), &len, nullptr));
        if (!text || !out.text.append(",\"variables\":") || !out.text.append(text.get(), len)) return false;
    }
    out.type = "json";
    return out.text.append_byte('}');
}

// application/json, or any application/...+json, parameters aside.
bool json_media_type(const char *value) noexcept {
    std::size_t n = std::strcspn(value, ";");
    while (n > 0 && (value[n - 1] == ' ' || value[n - 1] == '\t')) --n;
    auto lower_eq = [](const char *s, const char *lit, std::size_t len) {
        for (std::size_t i = 0; i < len; ++i) {
            char c = s[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            if (c != lit[i]) return false;
        }
        return true;
    };
    if (n < 16 || !lower_eq(value, "application/", 12)) return false;
    return (n == 16 && lower_eq(value + 12, "json", 4)) || lower_eq(value + n - 5, "+json", 5);
}

}  // namespace

bool ac_pm_pruned_method(const char *method) noexcept {
    for (const char *m : pruned_methods) {
        if (std::strcmp(method, m) == 0) return true;
    }
    return false;
}

const char *ac_pm_file_type(const char *path, std::size_t len) noexcept {
    std::size_t dot = len;
    for (std::size_t i = len; i > 0 && path[i - 1] != '/'; --i) {
        if (path[i - 1] == '.') {
            dot = i - 1;
            break;
        }
    }
    const char *ext = path + dot;
    if (ac_ascii_ieq(ext, ".txt")) return "text/plain";
    if (ac_ascii_ieq(ext, ".json")) return "application/json";
    if (ac_ascii_ieq(ext, ".png")) return "image/png";
    return "application/octet-stream";
}

const char *ac_pm_raw_type(const char *language) noexcept {
    if (!language) return "text/plain";
    if (std::strcmp(language, "json") == 0) return "application/json";
    if (std::strcmp(language, "javascript") == 0) return "application/javascript";
    if (std::strcmp(language, "html") == 0) return "text/html";
    if (std::strcmp(language, "xml") == 0) return "application/xml";
    return "text/plain";
}

bool ac_pm_map_body(const PmPlace &at, yyjson_val *body, const char *method, bool keep_get_body, PmHeaders &headers,
                    PmBody &out) noexcept {
    if (!yyjson_is_obj(body)) return true;
    yyjson_val *mode_val = yyjson_obj_get(body, "mode");
    const char *mode = yyjson_is_str(mode_val) ? yyjson_get_str(mode_val) : yyjson_obj_get(body, "raw") ? "raw" : "none";
    if (std::strcmp(mode, "none") == 0) return true;
    yyjson_val *raw = yyjson_obj_get(body, "raw");
    if (std::strcmp(mode, "raw") == 0 && (!yyjson_is_str(raw) || yyjson_get_len(raw) == 0)) return true;
    if (yyjson_is_true(yyjson_obj_get(body, "disabled"))) {
        ac_pm_note(at, "body", "%s body switched off: not sent", mode);
        return true;
    }
    if (ac_pm_pruned_method(method) && !keep_get_body) {
        ac_pm_note(at, "body", "%s body of a %s request dropped, as the runner does", mode, method);
        return true;
    }

    if (std::strcmp(mode, "raw") == 0) {
        yyjson_val *language = yyjson_obj_get(yyjson_obj_get(yyjson_obj_get(body, "options"), "raw"), "language");
        if (is(language, "json")) {
            out.type = "json";
            return strip_comments(out.text, yyjson_get_str(raw), yyjson_get_len(raw));
        }
        // Without a language the runner still reads a body its own header
        // types as JSON, comments and all.
        long own = headers.find("Content-Type");
        if (!yyjson_is_str(language) && own >= 0 && json_media_type(headers.value(own)))
            return strip_comments(out.text, yyjson_get_str(raw), yyjson_get_len(raw));
        if (!out.text.append(yyjson_get_str(raw), yyjson_get_len(raw))) return false;
        const char *type = ac_pm_raw_type(yyjson_get_str(language));
        return headers.find("Content-Type") >= 0 || headers.append("Content-Type", type);
    }
    if (std::strcmp(mode, "urlencoded") == 0) return urlencoded(at, yyjson_obj_get(body, "urlencoded"), headers, out);
    if (std::strcmp(mode, "formdata") == 0) return formdata(at, yyjson_obj_get(body, "formdata"), headers, out);
    if (std::strcmp(mode, "graphql") == 0) return graphql(yyjson_obj_get(body, "graphql"), out);
    if (std::strcmp(mode, "file") == 0) {
        yyjson_val *file = yyjson_obj_get(body, "file");
        yyjson_val *src = yyjson_is_obj(file) ? yyjson_obj_get(file, "src") : file;
        if (!yyjson_is_str(src) || yyjson_get_len(src) == 0) {
            ac_pm_note(at, "body", "file body names no file: sent empty");
            return true;
        }
        out.type = "file";
        if (!out.text.append(yyjson_get_str(src), yyjson_get_len(src))) return false;
        return headers.find("Content-Type") >= 0 ||
               headers.append("Content-Type", ac_pm_file_type(yyjson_get_str(src), yyjson_get_len(src)));
    }
    ac_pm_note(at, "body", "body mode '%s' is not supported: kept, not sent", mode);
    return true;
}
