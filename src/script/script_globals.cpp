#if QV_SCRIPTS

#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "script/script_state.h"
#include "script/script_values.h"

namespace {

// __qv_host(op, json) -> json, through the host's callback.
JSValue host_call(JSContext *ctx, JSValueConst, int argc, JSValueConst *argv) noexcept {
    auto *s = static_cast<ScriptRuntime::State *>(JS_GetContextOpaque(ctx));
    if (!s->host) return JS_ThrowTypeError(ctx, "__qv_host: the host takes no calls here");
    if (argc < 2) return JS_ThrowTypeError(ctx, "__qv_host: an op and a JSON text are needed");
    const char *op = JS_ToCString(ctx, argv[0]);
    size_t len = 0;
    const char *json = op ? JS_ToCStringLen(ctx, &len, argv[1]) : nullptr;
    DynBuf reply;
    const bool ok = json && s->host(op, json, len, reply);
    JS_FreeCString(ctx, json);
    JS_FreeCString(ctx, op);
    if (!json) return JS_EXCEPTION;
    if (!reply.ok()) return JS_ThrowOutOfMemory(ctx);
    if (!ok) return script_throw_error(ctx, reply.c_str());
    return JS_NewStringLen(ctx, reply.c_str(), reply.len());
}

// crypto.getRandomValues(typedArray): fills it from the system's entropy
// source and returns it, as in browsers (at most 65536 bytes a call).
JSValue get_random_values(JSContext *ctx, JSValueConst, int argc, JSValueConst *argv) noexcept {
    size_t offset = 0, len = 0, size = 0;
    JSValue buffer = argc > 0 ? JS_GetTypedArrayBuffer(ctx, argv[0], &offset, &len, nullptr) : JS_EXCEPTION;
    if (JS_IsException(buffer)) return JS_ThrowTypeError(ctx, "getRandomValues: an integer typed array is needed");
    uint8_t *bytes = JS_GetArrayBuffer(ctx, &size, buffer);
    JS_FreeValue(ctx, buffer);
    if (len > 65536) return JS_ThrowRangeError(ctx, "getRandomValues: more than 65536 bytes asked for");
    for (size_t i = 0; bytes && i < len; i += 8) {
        const std::uint64_t r = ac_entropy();
        if (r == 0) return JS_ThrowInternalError(ctx, "getRandomValues: no entropy to be had");
        std::memcpy(bytes + offset + i, &r, len - i < 8 ? len - i : 8);
    }
    return JS_DupValue(ctx, argv[0]);
}

bool set_function(JSContext *ctx, JSValueConst on, const char *name, JSCFunction *fn, int length) {
    JSValue f = JS_NewCFunction(ctx, fn, name, length);
    return !JS_IsException(f) && JS_SetPropertyStr(ctx, on, name, f) >= 0;
}

}  // namespace

bool script_add_globals(JSContext *ctx) noexcept {
    JSValue global = JS_GetGlobalObject(ctx);
    JSValue crypto = JS_NewObject(ctx);
    bool ok = !JS_IsException(crypto) && set_function(ctx, crypto, "getRandomValues", get_random_values, 1) &&
              set_function(ctx, global, "__qv_host", host_call, 2);
    if (ok)
        ok = JS_SetPropertyStr(ctx, global, "crypto", crypto) >= 0;  // takes crypto in any case
    else
        JS_FreeValue(ctx, crypto);
    JS_FreeValue(ctx, global);
    return ok;
}

#endif
