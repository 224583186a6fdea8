// Auth of the format (v2.1 arrays, v2.0 objects) to item auth and back.
#include <cstring>
#include <initializer_list>

#include "postman/postman_full.h"
#include "util/json_build.h"
#include "util/util.h"

namespace {

// Item auth member names and the format's parameter names, by type.
struct Rename {
    const char *type;
    const char *ours;
    const char *theirs;
};
constexpr Rename renames[] = {
    {"bearer", "token", "token"},          {"basic", "user", "username"},        {"basic", "pass", "password"},
    {"apikey", "name", "key"},             {"apikey", "value", "value"},         {"apikey", "in", "in"},
    {"digest", "user", "username"},        {"digest", "pass", "password"},       {"ntlm", "user", "username"},
    {"ntlm", "pass", "password"},          {"awsv4", "access_key", "accessKey"}, {"awsv4", "secret_key", "secretKey"},
    {"awsv4", "region", "region"},         {"awsv4", "service", "service"},      {"awsv4", "session_token", "sessionToken"},
};

bool is(const char *a, const char *b) noexcept { return std::strcmp(a, b) == 0; }

// A parameter of the auth, from the v2.1 list of {key, value} or the v2.0 object.
yyjson_val *param(yyjson_val *auth, const char *type, const char *key) noexcept {
    yyjson_val *params = yyjson_obj_get(auth, type);
    if (yyjson_is_obj(params)) return yyjson_obj_get(params, key);
    yyjson_val *entry;
    yyjson_arr_iter it = yyjson_arr_iter_with(params);
    while ((entry = yyjson_arr_iter_next(&it))) {
        yyjson_val *k = yyjson_obj_get(entry, "key");
        if (yyjson_is_str(k) && is(yyjson_get_str(k), key)) return yyjson_obj_get(entry, "value");
    }
    return nullptr;
}

struct AuthOut {
    JsonBuild b;
    yyjson_val *auth;
    const char *type;
    yyjson_mut_val *obj;

    // The parameter's text, or fallback when it has none.
    const char *text(const char *key, const char *fallback, std::size_t *len, char (&scratch)[40]) noexcept {
        const char *t = ac_json_scalar(param(auth, type, key), len, scratch);
        if (t) return t;
        *len = std::strlen(fallback);
        return fallback;
    }
    void put(const char *ours, const char *text, std::size_t len) noexcept { b.add_text(obj, ours, text, len); }
    void copy(const char *ours, const char *theirs, const char *fallback = "") noexcept {
        char scratch[40];
        std::size_t len = 0;
        const char *t = text(theirs, fallback, &len, scratch);
        if (len == 0) {
            t = fallback;
            len = std::strlen(fallback);
        }
        put(ours, t, len);
    }
};

// The header an auth sends wins over the request's own of that name.
void drop_own_header(const PmPlace &at, PmHeaders &headers, const char *name, std::size_t len) noexcept {
    long own = headers.find(name, len);
    if (own < 0) return;
    ac_pm_note(at, "header", "own %s header replaced by the auth's, as the runner does", headers.name(own));
    headers.remove(own);
}

bool oauth2(const PmPlace &at, AuthOut &a, PmHeaders &headers, DynBuf &url) noexcept {
    char scratch[40], prefix_scratch[40];
    std::size_t len = 0, prefix_len = 0;
    const char *token = a.text("accessToken", "", &len, scratch);
    if (len == 0) {
        ac_pm_note(at, "auth", "oauth2 without an access token: nothing sent");
        return true;
    }
    yyjson_val *to = param(a.auth, "oauth2", "addTokenTo");
    if (yyjson_is_str(to) && is(yyjson_get_str(to), "queryParams")) {
        ac_pm_note(at, "auth", "oauth2 carried as its access token in the query");
        const char *u = url.c_str();
        std::size_t n = url.len();
        bool has_query = std::memchr(u, '?', n) != nullptr;
        bool open = n > 0 && (u[n - 1] == '?' || u[n - 1] == '&');
        return (open || url.append_byte(has_query ? '&' : '?')) && url.append("access_token=") &&
               ac_url_encode(url, token, len, UrlSet::component);
    }
    ac_pm_note(at, "auth", "oauth2 carried as its access token in the Authorization header");
    const char *prefix = a.text("headerPrefix", "Bearer", &prefix_len, prefix_scratch);
    DynBuf value;
    value.append(prefix, prefix_len);
    if (prefix_len) value.append_byte(' ');
    value.append(token, len);
    return value.ok() && headers.append("Authorization", 13, value.c_str(), value.len());
}

}  // namespace

yyjson_mut_val *ac_pm_map_auth(const PmPlace &at, yyjson_mut_doc *doc, yyjson_val *auth, PmHeaders &headers,
                               DynBuf &url) noexcept {
    yyjson_mut_val *obj = yyjson_mut_obj(doc);
    yyjson_val *type_val = yyjson_obj_get(auth, "type");
    if (!obj || !yyjson_is_str(type_val)) return obj;
    const char *type = yyjson_get_str(type_val);
    if (is(type, "noauth")) return obj;
    AuthOut a{JsonBuild(doc), auth, type, obj};
    char scratch[40];
    std::size_t len = 0;
    if (is(type, "bearer")) {
        a.text("token", "", &len, scratch);
        if (len == 0) {
            ac_pm_note(at, "auth", "bearer token empty: no Authorization sent, as the runner does");
            return obj;
        }
    } else if (is(type, "oauth2")) {
        return oauth2(at, a, headers, url) ? obj : nullptr;
    }
    bool known = false;
    for (const Rename &r : renames) known = known || is(r.type, type);
    if (!known) {
        ac_pm_note(at, "auth", "auth type '%s' is not supported: kept as the file has it, not sent", type);
        a.put("type", type, yyjson_get_len(type_val));
        // The item's auth keeps its type under "type": a parameter of that name cannot stay.
        auto keep = [&](yyjson_val *k, yyjson_val *v) {
            if (is(yyjson_get_str(k), "type")) {
                ac_pm_note(at, "auth", "auth parameter 'type' dropped: the name holds the auth type");
                return;
            }
            yyjson_mut_val *copy = v ? a.b.copy(v) : yyjson_mut_null(doc);
            yyjson_mut_val *name = a.b.text(yyjson_get_str(k), yyjson_get_len(k));
            a.b.check(copy && name && yyjson_mut_obj_add(obj, name, copy));
        };
        yyjson_val *params = yyjson_obj_get(auth, type);
        yyjson_val *entry;
        yyjson_arr_iter it = yyjson_arr_iter_with(params);
        while (a.b.ok() && (entry = yyjson_arr_iter_next(&it))) {
            yyjson_val *k = yyjson_obj_get(entry, "key");
            yyjson_val *v = yyjson_obj_get(entry, "value");
            if (yyjson_is_str(k)) keep(k, v);
        }
        // Object form (v2.0): each member copied on its own; moving the
        // nodes of a copied object would relink the list being walked.
        yyjson_obj_iter oit = yyjson_obj_iter_with(params);
        for (yyjson_val *k; a.b.ok() && (k = yyjson_obj_iter_next(&oit));) keep(k, yyjson_obj_iter_get_val(k));
        return a.b.ok() ? obj : nullptr;
    }

    a.put("type", type, yyjson_get_len(type_val));
    if (is(type, "bearer")) {
        a.copy("token", "token");
    } else if (is(type, "basic") || is(type, "digest")) {
        a.copy("user", "username");
        a.copy("pass", "password");
        if (is(type, "digest")) {
            for (const char *k : {"realm", "nonce", "algorithm", "qop", "nonceCount", "clientNonce", "opaque"}) {
                a.text(k, "", &len, scratch);
                if (len) ac_pm_note(at, "auth", "digest %s kept, not sent: the server's challenge is answered instead", k);
            }
        }
    } else if (is(type, "ntlm")) {
        char ds[40], us[40];
        std::size_t dlen = 0, ulen = 0;
        const char *domain = a.text("domain", "", &dlen, ds);
        const char *user = a.text("username", "", &ulen, us);
        // libcurl takes the domain in front of the user name.
        DynBuf full;
        if (dlen) {
            full.append(domain, dlen);
            full.append_byte('\\');
        }
        full.append(user, ulen);
        a.b.check(full.ok());
        a.put("user", full.c_str(), full.len());
        a.copy("pass", "password");
        a.text("workstation", "", &len, scratch);
        if (len) ac_pm_note(at, "auth", "ntlm workstation kept, not sent");
    } else if (is(type, "apikey")) {
        char ks[40], vs[40];
        std::size_t klen = 0, vlen = 0;
        const char *key = a.text("key", "", &klen, ks);
        const char *value = a.text("value", "", &vlen, vs);
        yyjson_val *in = param(auth, "apikey", "in");
        bool query = yyjson_is_str(in) && is(yyjson_get_str(in), "query");
        if (query) {
            // api_request appends name=value as it is; the runner encodes both.
            DynBuf k, v;
            a.b.check(ac_url_encode(k, key, klen, UrlSet::component) && ac_url_encode(v, value, vlen, UrlSet::component));
            a.put("name", k.c_str(), k.len());
            a.put("value", v.c_str(), v.len());
        } else {
            drop_own_header(at, headers, key, klen);
            a.put("name", key, klen);
            a.put("value", value, vlen);
        }
        a.put("in", query ? "query" : "header", query ? 5 : 6);
        return a.b.ok() ? obj : nullptr;
    } else if (is(type, "awsv4")) {
        a.copy("access_key", "accessKey");
        a.copy("secret_key", "secretKey");
        a.copy("region", "region", "us-east-1");
        a.copy("service", "service", "execute-api");
        a.copy("session_token", "sessionToken");
        yyjson_val *to_query = param(auth, "awsv4", "addAuthDataToQuery");
        if (yyjson_is_true(to_query) || (yyjson_is_str(to_query) && is(yyjson_get_str(to_query), "true")))
            ac_pm_note(at, "auth", "awsv4 signature asked for in the query: sent in the headers");
    }
    drop_own_header(at, headers, "Authorization", 13);
    return a.b.ok() ? obj : nullptr;
}

yyjson_mut_val *ac_pm_export_auth(yyjson_mut_doc *doc, yyjson_val *auth, bool *ok) noexcept {
    yyjson_val *type_val = yyjson_obj_get(auth, "type");
    if (!yyjson_is_str(type_val) || yyjson_get_len(type_val) == 0 || is(yyjson_get_str(type_val), "noauth")) return nullptr;
    const char *type = yyjson_get_str(type_val);
    JsonBuild b(doc);
    yyjson_mut_val *out = b.obj();
    yyjson_mut_val *params = b.arr();
    b.add_text(out, "type", type);
    yyjson_mut_val *params_key = b.text(type);
    b.check(out && params_key && params && yyjson_mut_obj_add(out, params_key, params));
    yyjson_val *in = yyjson_obj_get(auth, "in");
    bool query_key = is(type, "apikey") && yyjson_is_str(in) && is(yyjson_get_str(in), "query");
    yyjson_obj_iter it = yyjson_obj_iter_with(auth);
    for (yyjson_val *k; b.ok() && (k = yyjson_obj_iter_next(&it));) {
        const char *name = yyjson_get_str(k);
        yyjson_val *v = yyjson_obj_iter_get_val(k);
        if (is(name, "type")) continue;
        for (const Rename &r : renames) {
            if (is(r.type, type) && is(r.ours, name)) name = r.theirs;
        }
        DynBuf text;
        const char *s = yyjson_get_str(v);
        std::size_t len = yyjson_get_len(v);
        if (is(type, "ntlm") && is(name, "username") && s) {
            // The domain went in front of the user name.
            const char *slash = static_cast<const char *>(std::memchr(s, '\\', len));
            if (slash) {
                yyjson_mut_val *d = b.obj();
                b.append(params, d);
                b.add_text(d, "key", "domain");
                b.add_text(d, "value", s, static_cast<std::size_t>(slash - s));
                b.add_text(d, "type", "string");
                len -= static_cast<std::size_t>(slash + 1 - s);
                s = slash + 1;
            }
        }
        if (query_key && s && (is(name, "key") || is(name, "value"))) {
            b.check(ac_url_decode(text, s, len, false));
            s = text.c_str();
            len = text.len();
        }
        yyjson_mut_val *entry = b.obj();
        b.append(params, entry);
        b.add_text(entry, "key", name);
        b.add(entry, "value", s ? b.text(s, len) : b.copy(v));
        if (s) b.add_text(entry, "type", "string");
    }
    if (!b.ok()) *ok = false;
    return b.ok() ? out : nullptr;
}
