// Requests with "verbatim": true go out as described, the way the format's
// runner sends them: any method name as given, the body whatever the method,
// empty header values sent empty, and no header libcurl would add on its own
// behalf (a form Content-Type, Expect: 100-continue).
#pragma once

#include <curl/curl.h>

#include "apiclient/request_auth.h"
#include "apiclient/request_body.h"

// True for a method name that may go on the request line: 1 to 32 token
// characters. Anything else could inject bytes into the request.
bool ac_method_is_token(const char *method) noexcept;

// Adds the header lines the body calls for: Content-Length: 0 for an empty
// body, except with the methods that carry none by default (GET, HEAD,
// DELETE, OPTIONS, TRACE, CONNECT); lines that keep libcurl from adding its
// form Content-Type (when the request has none: has_type false) or an Expect
// header to a body. False with the message set.
bool ac_verbatim_headers(HeaderList &headers, const char *method, const char *body, const StreamBody &stream,
                         bool has_type) noexcept;

// Sets the method and the body: a body that is not empty goes out with any
// method.
void ac_set_verbatim_method(CURL *h, const char *method, const char *body, StreamBody &stream) noexcept;
