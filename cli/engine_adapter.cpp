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
