// Between QuickJS values and the library's texts, for script_runtime.cpp.
#pragma once

#include <quickjs.h>

#include "util/dynbuf.h"

// Throws an Error with `message`; returns JS_EXCEPTION.
JSValue script_throw_error(JSContext *ctx, const char *message) noexcept;

// Appends a string value as UTF-8; false when memory runs out.
bool script_append_string(JSContext *ctx, JSValueConst value, DynBuf &out) noexcept;

// Takes the pending exception and appends it as "Name: message".
void script_append_exception(JSContext *ctx, DynBuf &out) noexcept;

// Puts {"tests":[],"error":{"name","message"}} in `out` (message may point
// into out); false when memory runs out.
bool script_error_output(const char *name, const char *message, DynBuf &out) noexcept;

// The same, for the pending exception, which it takes.
bool script_exception_output(JSContext *ctx, DynBuf &out) noexcept;
