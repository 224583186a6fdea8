// The session's cookie jar (the "cookies" option): libcurl's cookie engine on
// each request's handle, loaded with the jar before the transfer and read
// back after it, so that the jar outlives the handles, kept or not.
#pragma once

#include <curl/curl.h>

// Before the transfer: the engine on, the jar's cookies in. False, with the
// message set, when memory runs out.
bool ac_cookies_prepare(CURL *h) noexcept;
// After the transfer: the jar becomes what the handle knows.
void ac_cookies_keep(CURL *h) noexcept;
// Frees the jar (api_cleanup).
void ac_cookies_release() noexcept;
