// What a ScriptRuntime holds (script_runtime.cpp), and the natives it adds
// to the context's globals (script_globals.cpp).
#pragma once

#include <chrono>

#include <quickjs.h>

#include "script/script.h"

struct ScriptRuntime::State {
    using Clock = std::chrono::steady_clock;

    JSRuntime *rt = nullptr;
    JSContext *ctx = nullptr;  // its opaque points back here
    ScriptHost host;
    Clock::time_point deadline{};
    bool deadline_set = false;
    bool timed_out = false;
};

// __qv_host(op, json), and crypto.getRandomValues for the modules that need
// randomness (uuid); false when memory runs out.
bool script_add_globals(JSContext *ctx) noexcept;
