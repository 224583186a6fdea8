#include "engine_adapter.h"

#include <cstring>

#include "json_doc.h"
#include "quorvane_apiclient.h"

// Today's library stops the body at its first NUL and gives the timing in
// whole milliseconds counted from the start; api_response_body_len and the
// "timing_us" member of api_response_info_json replace both.

std::string_view response_bytes() {
    const char *body = api_response_body();
    return {body, std::strlen(body)};
}

Timing response_timing() {
    JsonDoc doc = parse_json(api_response_time_json());
    yyjson_val *t = yyjson_doc_get_root(doc.get());
    auto at = [t](const char *key) { return json_int(t, key, 0) * 1000; };
    long long dns = at("dns_ms"), connect = at("connect_ms"), tls = at("tls_ms");
    long long first_byte = at("ttfb_ms"), total = at("total_ms");
    long long ready = tls > connect ? tls : connect;
    Timing out;
    out.dns = dns;
    out.connect = connect > dns ? connect - dns : 0;
    out.tls = tls > connect ? tls - connect : 0;
    out.wait = first_byte > ready ? first_byte - ready : 0;
    out.download = total > first_byte ? total - first_byte : 0;
    out.total = total;
    return out;
}

std::string response_http_version() { return ""; }

// The library's own rule: a trimmed name of at most 255 bytes whose value
// is not empty; anything else stays as written. {{$name}} values are drawn
// afresh for each request and cannot be known here: they stay as written.
std::string sent_url(std::string_view url) {
    constexpr std::size_t max_name = 255;
    std::string out;
    std::size_t i = 0;
    while (i < url.size()) {
        if (url.compare(i, 2, "{{") == 0) {
            std::size_t close = url.find("}}", i + 2);
            if (close != std::string_view::npos && close - (i + 2) <= max_name) {
                std::string_view name = url.substr(i + 2, close - i - 2);
                while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
                while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
                const char *value = name.empty() ? "" : api_env_get(std::string(name).c_str());
                if (*value) {
                    out += value;
                    i = close + 2;
                    continue;
                }
            }
        }
        out += url[i++];
    }
    return out;
}
