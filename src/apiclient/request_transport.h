// How a request reaches its server, beyond the core RequestConfig members:
// the library options that apply to every request (redirect limit, user
// agent, decompression) and the members "proxy", "http_version", "ca_file",
// "extra_ca_file", "client_cert" and "client_key".
#pragma once

#include <curl/curl.h>
#include <yyjson.h>

// Applies them to the handle. An absent member, or one given as null, leaves
// libcurl's default; a member of another type or with a value that cannot
// be used fails, with the message set, before anything is sent.
bool ac_apply_transport(CURL *h, yyjson_val *config) noexcept;

// Frees what the last request's handshakes needed (api_cleanup).
void ac_transport_release() noexcept;
