// A request's header lines, its expanded texts and its authentication, shared
// by the request files.
#pragma once

#include <curl/curl.h>
#include <yyjson.h>

#include "util/owners.h"
#include "util/printf_format.h"

// The request's header lines. append() keeps the list intact when libcurl
// cannot allocate, and sets the message itself. curl_slist_append walks the
// whole list to find its end, so each line is made a list of its own and
// linked at the remembered tail: building stays linear in the header count.
struct HeaderList {
    unique_slist list;
    curl_slist *tail = nullptr;
    bool append(const char *line) noexcept;
    // "name: value" of any length.
    bool append(const char *name, const char *value) noexcept;
    // A line of any length.
    bool appendf(const char *fmt, ...) noexcept AC_PRINTF_FORMAT(2, 3);
};

// A text of the request with its placeholders expanded; null, with "api_request:
// out of memory" or "api_request: expanded text too large" set, when that fails.
unique_cstr ac_request_expand(const char *text) noexcept;
// The same for the URL of a verbatim request: values percent-encoded for the
// part of the URL they land in, as the format's runner sends them.
unique_cstr ac_request_expand_url(const char *text) noexcept;

// A CR or LF in a header would go out raw and start further header lines:
// true, with the message set, when name or value holds one.
bool ac_refuse_line_break(const char *name, const char *value) noexcept;

// Applies the "auth" member (may be null): bearer, basic, apikey, digest,
// ntlm or awsv4. May replace the final URL (apikey in the query). `whole`
// (a verbatim request) sends every credential whole instead of in the
// fixed buffers of the plain rules, and an AWS signature of a text `body`
// (NULL: none, or streamed) with its X-Amz-Content-Sha256, as the format's
// runner does. False with the message set.
bool ac_apply_auth(CURL *h, yyjson_val *auth, bool whole, const char *body, HeaderList &headers,
                   unique_cstr &url) noexcept;
