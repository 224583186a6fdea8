// Runs pre-request and test scripts under QuickJS (src/script/js: the
// modules' bundle and the bridge, embedded as bytecode). One ScriptRuntime is
// one runtime and context, kept for a whole run: globals that a script makes
// stay for the scripts after it. Nothing here throws; texts go into DynBufs.
#pragma once

#include <cstddef>
#include <functional>

#include "util/dynbuf.h"

// False when the library was built with -DQV_SCRIPTS=OFF.
bool script_available() noexcept;

struct ScriptLimits {
    std::size_t memory_bytes = std::size_t{64} << 20;  // the context's heap
    // Native stack a script may use below the point where it is called
    // (host threads may have small ones).
    std::size_t stack_bytes = std::size_t{512} << 10;
};

// The host's side of __qv_host(op, json): true with the reply (JSON text) in
// `reply`; false with a message in `reply`, which the script sees thrown as
// an Error. Ops: "send" (pm.sendRequest). It must not throw: QuickJS's C
// frames are below it (a throw ends the process).
using ScriptHost = std::function<bool(const char *op, const char *json, std::size_t len, DynBuf &reply)>;

class ScriptRuntime {
public:
    ScriptRuntime() noexcept = default;
    ~ScriptRuntime() { close(); }
    ScriptRuntime(const ScriptRuntime &) = delete;
    ScriptRuntime &operator=(const ScriptRuntime &) = delete;

    // Makes the context and loads the embedded modules and bridge; false with
    // the reason in `error` ("scripts are not available in this build" when
    // built without them).
    bool open(const ScriptLimits &limits, DynBuf &error) noexcept;
    void close() noexcept;
    bool is_open() const noexcept { return state_ != nullptr; }
    void set_host(ScriptHost host) noexcept;

    // Calls __qv_run(input) and puts its output JSON in `out`. When the
    // script runs past deadline_ms (0: no limit) or the bridge itself fails,
    // the output is made here: {"tests":[],"error":{"name","message"}}, e.g.
    // "script timed out after 100 ms". False, with the reason as text in
    // `out`, only when there is no output at all (not open, no memory).
    bool run(const char *input, std::size_t len, unsigned deadline_ms, DynBuf &out) noexcept;

    // Bytes the context's heap holds now (0 when not open).
    std::size_t memory_used() const noexcept;

    struct State;  // script_state.h

private:
    State *state_ = nullptr;
};

// Closes the session's script context of api_script_run (api_cleanup).
void ac_script_cleanup() noexcept;
