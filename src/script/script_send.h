// pm.sendRequest's side of the library: one request sent for a script.
#pragma once

#include <cstddef>

#include "util/dynbuf.h"

// Sends the request of `json` ({"method","url","headers":[{"key","value"}],
// "body": a Postman body (raw or urlencoded), "auth": basic or bearer}) and
// puts the response JSON ({"code","status","headers","body","responseTime",
// "responseSize"}) in `reply`; false with the reason in `reply`.
bool ac_script_send(const char *json, std::size_t len, DynBuf &reply) noexcept;
