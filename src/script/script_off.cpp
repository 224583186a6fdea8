// The library built with -DQV_SCRIPTS=OFF: no QuickJS, and a runtime that
// says so.
#include "script/script.h"

#if !QV_SCRIPTS

namespace {
constexpr const char *not_available = "scripts are not available in this build";
}

bool script_available() noexcept { return false; }

bool ScriptRuntime::open(const ScriptLimits &, DynBuf &error) noexcept {
    error.append(not_available);
    return false;
}

void ScriptRuntime::close() noexcept {}

void ScriptRuntime::set_host(ScriptHost) noexcept {}

std::size_t ScriptRuntime::memory_used() const noexcept { return 0; }

bool ScriptRuntime::run(const char *, std::size_t, unsigned, DynBuf &out) noexcept {
    out.reset();
    out.append(not_available);
    return false;
}

#endif
