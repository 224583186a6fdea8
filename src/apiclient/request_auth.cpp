#include "apiclient/request_auth.h"
#include "util/alloc.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "apiclient/transfer.h"
#include "config/config.h"
#include "env/env.h"
#include "platform/platform.h"
#include "util/dynbuf.h"
#include "util/util.h"

namespace {

constexpr std::size_t auth_line_size = 2048;
constexpr std::size_t userpwd_size = 1024;

bool out_of_memory() noexcept {
    ac_set_error("api_request: out of memory");
    return false;
}

// A copy of the auth object with {{name}} expanded in every string member;
// null, with the message set, when that fails.
yyjson_doc *expanded_auth(yyjson_val *auth) noexcept {
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    yyjson_mut_val *obj = doc ? yyjson_mut_obj(doc.get()) : nullptr;
    if (!obj) {
        out_of_memory();
        return nullptr;
    }
    yyjson_mut_doc_set_root(doc.get(), obj);
    yyjson_obj_iter it = yyjson_obj_iter_with(auth);
    for (yyjson_val *k = yyjson_obj_iter_next(&it); k; k = yyjson_obj_iter_next(&it)) {
        yyjson_val *v = yyjson_obj_iter_get_val(k);
        yyjson_mut_val *key = yyjson_mut_strncpy(doc.get(), yyjson_get_str(k), yyjson_get_len(k));
        yyjson_mut_val *value = nullptr;
        if (yyjson_is_str(v)) {
            unique_cstr text(ac_request_expand(yyjson_get_str(v)));
            if (!text) return nullptr;
            value = yyjson_mut_strcpy(doc.get(), text.get());
        } else {
            value = yyjson_val_mut_copy(doc.get(), v);
        }
        if (!key || !value || !yyjson_mut_obj_add(obj, key, value)) {
            out_of_memory();
            return nullptr;
        }
    }
    yyjson_doc *copy = yyjson_mut_doc_imut_copy(doc.get(), ac_alc());
    if (!copy) out_of_memory();
    return copy;
}

// Digest, NTLM and AWS signing take the user name and password apart, so
// neither is cut and a colon in the user name survives.
bool set_credentials(CURL *h, const char *user, const char *pass) noexcept {
    if (curl_easy_setopt(h, CURLOPT_USERNAME, user) == CURLE_OUT_OF_MEMORY ||
        curl_easy_setopt(h, CURLOPT_PASSWORD, pass) == CURLE_OUT_OF_MEMORY) {
        return out_of_memory();
    }
    return true;
}

// The hash of the body the format's runner sends and signs with it.
bool add_content_sha256(HeaderList &headers, const char *body) noexcept {
    unsigned char digest[32];
    if (!ac_sha256(body, std::strlen(body), digest)) {
        ac_set_error("api_request: no SHA-256 for the AWS signature");
        return false;
    }
    static const char digits[] = "0123456789abcdef";
    char hex[65];
    for (int i = 0; i < 32; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 15];
    }
    hex[64] = '\0';
    return headers.append("X-Amz-Content-Sha256", hex);
}

// libcurl signs every header it sends, the session token among them.
bool apply_awsv4(CURL *h, yyjson_val *auth, HeaderList &headers, const char *body) noexcept {
    const char *region = ac_json_str(auth, "region", "");
    const char *service = ac_json_str(auth, "service", "");
    DynBuf provider;
    if (!provider.appendf("aws:amz:%s:%s", *region ? region : "us-east-1", *service ? service : "execute-api"))
        return out_of_memory();
    if (curl_easy_setopt(h, CURLOPT_AWS_SIGV4, provider.c_str()) == CURLE_OUT_OF_MEMORY) return out_of_memory();
    if (!set_credentials(h, ac_json_str(auth, "access_key", ""), ac_json_str(auth, "secret_key", ""))) return false;
    if (body && *body && !add_content_sha256(headers, body)) return false;
    const char *token = ac_json_str(auth, "session_token", "");
    if (!*token) return true;
    if (ac_refuse_line_break("X-Amz-Security-Token", token)) return false;
    return headers.append("X-Amz-Security-Token", token);
}

bool apply_apikey(yyjson_val *auth, bool whole, HeaderList &headers, unique_cstr &url) noexcept {
    const char *name = ac_json_str(auth, "name", "X-Api-Key");
    const char *value = ac_json_str(auth, "value", "");
    if (!ac_ascii_ieq(ac_json_str(auth, "in", "header"), "query")) {
        if (ac_refuse_line_break(name, value)) return false;
        if (whole) return headers.append(name, value);
        char line[auth_line_size];
        std::snprintf(line, sizeof line, "%s: %s", name, value);
        return headers.append(line);
    }
    const char *joiner = std::strchr(url.get(), '?') ? "&" : "?";
    std::size_t cap = std::strlen(url.get()) + std::strlen(name) + std::strlen(value) + 5;
    char *with_key = static_cast<char *>(ac_malloc(cap));
    if (!with_key) return out_of_memory();
    std::snprintf(with_key, cap, "%s%s%s=%s", url.get(), joiner, name, value);
    url.reset(with_key);
    return true;
}

bool apply(CURL *h, yyjson_val *auth, bool whole, const char *body, HeaderList &headers, unique_cstr &url) noexcept {
    const char *type = yyjson_get_str(yyjson_obj_get(auth, "type"));
    if (!type) return true;
    if (ac_ascii_ieq(type, "bearer")) {
        const char *token = ac_json_str(auth, "token", "");
        if (ac_refuse_line_break("Authorization", token)) return false;
        if (whole) return headers.appendf("Authorization: Bearer %s", token);
        char line[auth_line_size];
        std::snprintf(line, sizeof line, "Authorization: Bearer %s", token);
        return headers.append(line);
    }
    if (ac_ascii_ieq(type, "basic") && whole) {
        // Apart, so neither is cut; libcurl joins them with a colon as the
        // plain rule's "user:pass" would.
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        return set_credentials(h, ac_json_str(auth, "user", ""), ac_json_str(auth, "pass", ""));
    }
    if (ac_ascii_ieq(type, "basic")) {
        char userpwd[userpwd_size];
        std::snprintf(userpwd, sizeof userpwd, "%s:%s", ac_json_str(auth, "user", ""), ac_json_str(auth, "pass", ""));
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(h, CURLOPT_USERPWD, userpwd);  // libcurl copies it
        return true;
    }
    bool digest = ac_ascii_ieq(type, "digest");
    if (digest || ac_ascii_ieq(type, "ntlm")) {
        // Nothing goes out until the server challenges; libcurl answers and
        // resends. Alone, NTLM would open with its first message unasked.
        unsigned long scheme = digest ? CURLAUTH_DIGEST : CURLAUTH_NTLM | CURLAUTH_ONLY;
        // NTLM authenticates the connection, not the request: a kept one
        // would carry these credentials into a later request.
        if (!digest) ac_transfer_private_connection();
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(scheme));
        return set_credentials(h, ac_json_str(auth, "user", ""), ac_json_str(auth, "pass", ""));
    }
    if (ac_ascii_ieq(type, "awsv4")) return apply_awsv4(h, auth, headers, whole ? body : nullptr);
    if (ac_ascii_ieq(type, "apikey")) return apply_apikey(auth, whole, headers, url);
    return true;
}

}  // namespace

unique_cstr ac_request_expand(const char *text) noexcept {
    ExpandError error = ExpandError::none;
    unique_cstr out(ac_env_substitute(text, &error));
    if (!out) ac_set_error("api_request: %s", ac_expand_error_message(error));
    return out;
}

unique_cstr ac_request_expand_url(const char *text) noexcept {
    ExpandError error = ExpandError::none;
    unique_cstr out(ac_env_substitute_url(text, &error));
    if (!out) ac_set_error("api_request: %s", ac_expand_error_message(error));
    return out;
}

bool HeaderList::append(const char *line) noexcept {
    curl_slist *node = curl_slist_append(nullptr, line);
    if (!node) return out_of_memory();
    if (tail) {
        tail->next = node;
    } else {
        list.reset(node);
    }
    tail = node;
    return true;
}

bool HeaderList::append(const char *name, const char *value) noexcept { return appendf("%s: %s", name, value); }

bool HeaderList::appendf(const char *fmt, ...) noexcept {
    DynBuf line;
    va_list ap;
    va_start(ap, fmt);
    bool made = line.vappendf(fmt, ap);
    va_end(ap);
    return made ? append(line.c_str()) : out_of_memory();
}

bool ac_refuse_line_break(const char *name, const char *value) noexcept {
    if (!std::strpbrk(name, "\r\n") && !std::strpbrk(value, "\r\n")) return false;
    ac_set_error("api_request: header '%s' contains a line break", name);
    return true;
}

bool ac_apply_auth(CURL *h, yyjson_val *auth, bool whole, const char *body, HeaderList &headers,
                   unique_cstr &url) noexcept {
    if (!auth) return true;
    if (!ac_options().expand_auth) return apply(h, auth, whole, body, headers, url);
    unique_doc expanded(expanded_auth(auth));
    if (!expanded) return false;
    return apply(h, yyjson_doc_get_root(expanded.get()), whole, body, headers, url);
}
