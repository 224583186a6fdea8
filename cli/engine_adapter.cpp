#include "engine_adapter.h"

#include "json_doc.h"
#include "quorvane_apiclient.h"

std::string_view response_bytes() {
    return {api_response_body(), static_cast<std::size_t>(api_response_body_len())};
}

Timing response_timing() {
    JsonDoc doc = parse_json(api_response_info_json());
    yyjson_val *t = yyjson_obj_get(yyjson_doc_get_root(doc.get()), "timing_us");
    Timing out;
    out.dns = json_int(t, "dns", 0);
    out.connect = json_int(t, "connect", 0);
    out.tls = json_int(t, "tls", 0);
    out.wait = json_int(t, "wait", 0);
    out.download = json_int(t, "download", 0);
    out.total = json_int(t, "total", 0);
    return out;
}

std::string response_http_version() {
    JsonDoc doc = parse_json(api_response_info_json());
    const char *version = json_str(yyjson_doc_get_root(doc.get()), "http_version", "");
    return *version ? std::string("HTTP/") + version : "";
}

std::string sent_url() {
    JsonDoc doc = parse_json(api_response_info_json());
    return json_str(yyjson_doc_get_root(doc.get()), "url", "");
}
