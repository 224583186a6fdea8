// URL objects of Postman collection files, shared by import and export.
#pragma once

#include <cstddef>

#include <yyjson.h>

// Adds to the url object `url` the parts of raw[0..len), split the way
// Postman's own tools split a URL: "protocol", "auth", "host" (labels),
// "port", "path" (segments), "query" (key/value objects) and "hash", each only
// when the URL has it. {{name}} placeholders are never split. The texts are
// copied into doc. False when memory runs out.
bool ac_postman_add_url_parts(yyjson_mut_doc *doc, yyjson_mut_val *url, const char *raw, std::size_t len) noexcept;

// The URL text that Postman's tools build from the parts of a url object
// (query entries marked disabled left out). malloc'd and NUL-terminated;
// NULL when out of memory.
char *ac_postman_url_from_parts(yyjson_val *url, std::size_t *len_out) noexcept;

// Releases what the last full import or export left: its report and the
// collection variables it remembers (api_cleanup).
void ac_postman_cleanup() noexcept;
