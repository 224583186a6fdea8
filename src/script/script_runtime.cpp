#if QV_SCRIPTS

#include <cstdint>
#include <new>
#include <utility>

#include "script/script_blob.h"
#include "script/script_state.h"
#include "script/script_values.h"
#include "util/alloc.h"

using State = ScriptRuntime::State;

namespace {

// Called by QuickJS every few thousand operations: a nonzero return throws
// an uncatchable error that unwinds the script, the bridge included.
int past_deadline(JSRuntime *, void *opaque) noexcept {
    auto *s = static_cast<State *>(opaque);
    if (!s->deadline_set || State::Clock::now() < s->deadline) return 0;
    s->timed_out = true;
    return 1;
}

// Evaluates each script of the embedded bytecode in turn.
bool load_blob(JSContext *ctx, DynBuf &error) {
    const unsigned char *p = qv_script_blob, *end = qv_script_blob + qv_script_blob_size;
    while (end - p >= 4) {
        const std::uint32_t n = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        p += 4;
        if (n > static_cast<std::size_t>(end - p)) break;
        JSValue fn = JS_ReadObject(ctx, p, n, JS_READ_OBJ_BYTECODE);
        JSValue done = JS_IsException(fn) ? fn : JS_EvalFunction(ctx, fn);
        if (JS_IsException(done)) {
            error.append("loading the script modules: ");
            script_append_exception(ctx, error);
            return false;
        }
        JS_FreeValue(ctx, done);
        p += n;
    }
    if (p == end) return true;
    error.append("the embedded script bytecode is cut short");
    return false;
}

}  // namespace

bool script_available() noexcept { return true; }

bool ScriptRuntime::open(const ScriptLimits &limits, DynBuf &error) noexcept {
    close();
    void *mem = ac_malloc(sizeof(State));
    if (!mem) return error.append("out of memory"), false;
    state_ = new (mem) State;
    State &s = *state_;
    s.rt = JS_NewRuntime();
    s.ctx = s.rt ? JS_NewContext(s.rt) : nullptr;
    if (!s.ctx) {
        close();
        return error.append("out of memory"), false;
    }
    JS_SetContextOpaque(s.ctx, state_);
    JS_SetInterruptHandler(s.rt, past_deadline, state_);
    // Atomics.wait would block where no deadline can end it.
    JS_SetCanBlock(s.rt, false);
    JS_SetMaxStackSize(s.rt, limits.stack_bytes);
    // Set once the modules are in, so that a small limit fails scripts, not the loading.
    if (!script_add_globals(s.ctx) || !load_blob(s.ctx, error)) {
        if (error.len() == 0) error.append("out of memory");
        close();
        return false;
    }
    JS_SetMemoryLimit(s.rt, limits.memory_bytes);
    return true;
}

void ScriptRuntime::close() noexcept {
    if (!state_) return;
    if (state_->ctx) JS_FreeContext(state_->ctx);
    if (state_->rt) JS_FreeRuntime(state_->rt);
    state_->~State();
    ac_free(state_);
    state_ = nullptr;
}

std::size_t ScriptRuntime::memory_used() const noexcept {
    if (!state_) return 0;
    JSMemoryUsage usage;
    JS_ComputeMemoryUsage(state_->rt, &usage);
    return static_cast<std::size_t>(usage.malloc_size);
}

void ScriptRuntime::set_host(ScriptHost host) noexcept {
    if (state_) state_->host = std::move(host);
}

bool ScriptRuntime::run(const char *input, std::size_t len, unsigned deadline_ms, DynBuf &out) noexcept {
    out.reset();
    if (!state_) return out.append("the script runtime is not open"), false;
    State &s = *state_;
    JSContext *ctx = s.ctx;
    // The stack limit counts from here: the caller's thread and depth.
    JS_UpdateStackTop(s.rt);
    s.timed_out = false;
    s.deadline_set = deadline_ms > 0;
    s.deadline = State::Clock::now() + std::chrono::milliseconds(deadline_ms);

    JSValue global = JS_GetGlobalObject(ctx);
    JSValue fn = JS_GetPropertyStr(ctx, global, "__qv_run");
    JSValue arg = JS_NewStringLen(ctx, input, len);
    JSValue result = JS_IsException(arg)       ? arg
                     : JS_IsFunction(ctx, fn) ? JS_Call(ctx, fn, global, 1, &arg)
                                               : JS_ThrowTypeError(ctx, "__qv_run is not a function");
    bool ok;
    if (s.timed_out) {
        out.appendf("script timed out after %u ms", deadline_ms);
        ok = script_error_output("Error", out.c_str(), out);
    } else if (JS_IsException(result)) {
        ok = script_exception_output(ctx, out);
    } else if (!JS_IsString(result)) {
        ok = script_error_output("TypeError", "__qv_run returned no text", out);
    } else {
        ok = script_append_string(ctx, result, out);
    }
    JS_FreeValue(ctx, result);
    JS_FreeValue(ctx, arg);
    JS_FreeValue(ctx, fn);
    JS_FreeValue(ctx, global);
    // Promise jobs the script left run now, under the same deadline, rather
    // than inside the next script; an exception still pending (a job's, the
    // timeout's) must not meet the next run either.
    for (JSContext *job_ctx; !s.timed_out && JS_ExecutePendingJob(s.rt, &job_ctx) != 0;) {
    }
    JS_FreeValue(ctx, JS_GetException(ctx));
    s.deadline_set = false;
    if (!ok && out.len() == 0) out.append("out of memory");
    return ok;
}

#endif
