// URL objects of Postman collection files, shared by import and export.
#pragma once

#include <cstddef>

#include <yyjson.h>

#include "postman/json_writer.h"

// Writes into the object open in w the parts of raw[0..len), split the way
// Postman's own tools split a URL: "protocol", "auth", "host" (labels),
// "port", "path" (segments), "query" (key/value objects) and "hash", each only
// when the URL has it. {{name}} placeholders are never split.
void ac_postman_write_url_parts(JsonWriter &w, const char *raw, std::size_t len) noexcept;

// The URL text that Postman's tools build from the parts of a url object
// (query entries marked disabled left out). malloc'd and NUL-terminated;
// NULL when out of memory.
char *ac_postman_url_from_parts(yyjson_val *url, std::size_t *len_out) noexcept;
