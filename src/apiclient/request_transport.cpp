#include "apiclient/request_transport.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "apiclient/transfer.h"
#include "config/config.h"
#include "platform/platform.h"
#include "util/util.h"

namespace {

constexpr const char *proxy_schemes[] = {"http://", "https://", "socks5://", "socks5h://"};

bool out_of_memory() noexcept {
    ac_set_error("api_request: out of memory");
    return false;
}

// A string member, or null when absent or JSON null. A present member of
// another type is a mistake worth stopping for: a proxy silently ignored
// would send the request straight to the server.
bool text_member(yyjson_val *config, const char *key, const char *&out) noexcept {
    yyjson_val *v = yyjson_obj_get(config, key);
    out = nullptr;
    if (!v || yyjson_is_null(v)) return true;
    if (!yyjson_is_str(v)) {
        ac_set_error("api_request: '%s' must be a string", key);
        return false;
    }
    out = yyjson_get_str(v);
    return true;
}

bool starts_with_ascii_ci(const char *text, const char *prefix) noexcept {
    std::size_t n = std::strlen(prefix);
    if (std::strlen(text) < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != prefix[i]) return false;
    }
    return true;
}

bool apply_proxy(CURL *h, const char *proxy) noexcept {
    if (!proxy) return true;
    // "" means a direct connection, whatever the environment's proxy variables say.
    bool known = !*proxy;
    for (const char *scheme : proxy_schemes) known = known || starts_with_ascii_ci(proxy, scheme);
    if (!known) {
        ac_set_error("api_request: 'proxy' must be an http, https, socks5 or socks5h URL");
        return false;
    }
    return curl_easy_setopt(h, CURLOPT_PROXY, proxy) == CURLE_OK || out_of_memory();
}

bool apply_http_version(CURL *h, const char *version) noexcept {
    if (!version) return true;
    long wanted = 0;
    if (std::strcmp(version, "1.1") == 0) {
        wanted = CURL_HTTP_VERSION_1_1;
    } else if (std::strcmp(version, "2") == 0) {
        // HTTP/2 over TLS through ALPN, and by upgrade over plain HTTP.
        wanted = CURL_HTTP_VERSION_2_0;
    } else {
        ac_set_error("api_request: 'http_version' must be \"1.1\" or \"2\"");
        return false;
    }
    if (curl_easy_setopt(h, CURLOPT_HTTP_VERSION, wanted) != CURLE_OK) {
        ac_set_error("api_request: HTTP/%s is not available in this build", version);
        return false;
    }
    return true;
}

// libcurl reads the file only once it connects, and reports a missing one in
// general words: check it now and name it. ac_read_file refuses anything but
// a regular file without blocking on it.
bool readable(const char *key, const char *path) noexcept {
    unique_cstr bytes(ac_read_file(path, nullptr));
    if (bytes) return true;
    ac_set_error("api_request: cannot read %s '%s'", key, path);
    return false;
}

bool apply_tls_files(CURL *h, const char *ca_file, const char *cert, const char *key) noexcept {
    if (key && !cert) {
        ac_set_error("api_request: 'client_key' needs 'client_cert'");
        return false;
    }
    struct File {
        const char *name;
        const char *path;
        CURLoption option;
    } files[] = {{"ca_file", ca_file, CURLOPT_CAINFO}, {"client_cert", cert, CURLOPT_SSLCERT},
                 {"client_key", key, CURLOPT_SSLKEY}};
    for (const File &f : files) {
        if (!f.path) continue;
        if (!readable(f.name, f.path)) return false;
        if (curl_easy_setopt(h, f.option, f.path) != CURLE_OK) return out_of_memory();
    }
    return true;
}

// The certificates of the last "extra_ca_file", which its handshakes read.
unique_cstr s_extra_cas;

// Certificates to trust beside the system's, where "ca_file" replaces them.
// A connection made trusting them is no connection for a request that does
// not: it is private to this request.
bool apply_extra_cas(CURL *h, const char *path) noexcept {
    if (!path) return true;
    std::uint64_t size = 0;
    s_extra_cas.reset(ac_read_file(path, &size));
    if (!s_extra_cas) {
        ac_set_error("api_request: cannot read extra_ca_file '%s'", path);
        return false;
    }
    if (!ac_tls_trust_more(h, s_extra_cas.get(), static_cast<std::size_t>(size))) {
        ac_set_error("api_request: 'extra_ca_file' is not available in this build");
        return false;
    }
    ac_transfer_private_connection();
    return true;
}

bool apply_library_options(CURL *h) noexcept {
    const LibraryOptions &o = ac_options();
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(o.max_redirects));
    if (o.user_agent[0] && curl_easy_setopt(h, CURLOPT_USERAGENT, o.user_agent) != CURLE_OK) return out_of_memory();
    // "": every encoding this libcurl can decode.
    if (o.decompress && curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "") != CURLE_OK) return out_of_memory();
    return true;
}

}  // namespace

bool ac_apply_transport(CURL *h, yyjson_val *config) noexcept {
    const char *proxy, *version, *ca_file, *extra_cas, *cert, *key;
    if (!text_member(config, "proxy", proxy) || !text_member(config, "http_version", version) ||
        !text_member(config, "ca_file", ca_file) || !text_member(config, "extra_ca_file", extra_cas) ||
        !text_member(config, "client_cert", cert) || !text_member(config, "client_key", key)) {
        return false;
    }
    return apply_library_options(h) && apply_proxy(h, proxy) && apply_http_version(h, version) &&
           apply_tls_files(h, ca_file, cert, key) && apply_extra_cas(h, extra_cas);
}

void ac_transport_release() noexcept { s_extra_cas.reset(); }
