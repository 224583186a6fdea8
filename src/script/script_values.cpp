#if QV_SCRIPTS

#include "script/script_values.h"

#include "util/json_build.h"
#include "util/owners.h"

JSValue script_throw_error(JSContext *ctx, const char *message) noexcept {
    JSValue e = JS_NewError(ctx);
    if (JS_IsException(e)) return e;
    JS_DefinePropertyValueStr(ctx, e, "message", JS_NewString(ctx, message), JS_PROP_WRITABLE | JS_PROP_CONFIGURABLE);
    return JS_Throw(ctx, e);
}

bool script_append_string(JSContext *ctx, JSValueConst value, DynBuf &out) noexcept {
    size_t len = 0;
    const char *s = JS_ToCStringLen(ctx, &len, value);
    if (!s) {
        JS_FreeValue(ctx, JS_GetException(ctx));
        return false;
    }
    const bool ok = out.append(s, len);
    JS_FreeCString(ctx, s);
    return ok;
}

namespace {

// A property of an exception as text, appended; false when it has none.
bool append_property(JSContext *ctx, JSValueConst e, const char *name, DynBuf &out) {
    JSValue v = JS_IsObject(e) ? JS_GetPropertyStr(ctx, e, name) : JS_UNDEFINED;
    const bool ok = !JS_IsUndefined(v) && !JS_IsException(v) && script_append_string(ctx, v, out);
    if (JS_IsException(v)) JS_FreeValue(ctx, JS_GetException(ctx));
    JS_FreeValue(ctx, v);
    return ok;
}

}  // namespace

void script_append_exception(JSContext *ctx, DynBuf &out) noexcept {
    JSValue e = JS_GetException(ctx);
    if (!script_append_string(ctx, e, out)) out.append("an exception that has no text");
    DynBuf stack;
    if (append_property(ctx, e, "stack", stack) && stack.len() > 0) {
        out.append_byte('\n');
        out.append(stack.c_str(), stack.len());
    }
    JS_FreeValue(ctx, e);
}

bool script_error_output(const char *name, const char *message, DynBuf &out) noexcept {
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    JsonBuild b(doc.get());
    yyjson_mut_val *root = b.obj(), *error = b.obj();
    b.add(root, "tests", b.arr());
    b.add_text(error, "name", name);
    b.add_text(error, "message", message);
    b.add(root, "error", error);
    if (!b.ok()) return false;
    yyjson_mut_doc_set_root(doc.get(), root);
    size_t len = 0;
    // Script text may hold lone surrogates, which QuickJS writes as CESU-8.
    unique_cstr text(yyjson_mut_write_opts(doc.get(), YYJSON_WRITE_ALLOW_INVALID_UNICODE, ac_alc(), &len, nullptr));
    out.reset();
    return text && out.append(text.get(), len);
}

bool script_exception_output(JSContext *ctx, DynBuf &out) noexcept {
    JSValue e = JS_GetException(ctx);
    DynBuf name, message;
    if (!append_property(ctx, e, "name", name)) name.append("Error");
    if (!append_property(ctx, e, "message", message) && !script_append_string(ctx, e, message))
        message.append("an exception that has no text");
    JS_FreeValue(ctx, e);
    if (!name.ok() || !message.ok()) return false;
    return script_error_output(name.c_str(), message.c_str(), out);
}

#endif
