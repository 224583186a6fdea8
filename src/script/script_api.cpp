// api_script_run: the session's script context, made at the first script and
// kept until api_cleanup, so that globals a script makes reach later ones.
#include <cstring>

#include "apiclient/apiclient.h"
#include "config/config.h"
#include "quorvane_apiclient.h"
#include "script/script.h"
#include "script/script_send.h"
#include "util/util.h"

namespace {

ScriptRuntime s_runtime;
ResultBuf s_output;

bool open_runtime() noexcept {
    if (s_runtime.is_open()) return true;
    ScriptLimits limits;
    if (ac_options().script_memory_bytes > 0) limits.memory_bytes = static_cast<std::size_t>(ac_options().script_memory_bytes);
    DynBuf why;
    if (!s_runtime.open(limits, why)) {
        ac_set_error("api_script_run: %s", why.c_str());
        return false;
    }
    s_runtime.set_host([](const char *op, const char *json, std::size_t len, DynBuf &reply) {
        if (std::strcmp(op, "send") == 0) return ac_script_send(json, len, reply);
        reply.appendf("unknown host call '%s'", op);
        return false;
    });
    return true;
}

}  // namespace

void ac_script_cleanup() noexcept {
    s_runtime.close();
    s_output.release();
}

extern "C" const char *api_script_run(const char *input_json) noexcept {
    unique_doc doc(ac_json_read_arg("api_script_run", "input_json", input_json, "invalid JSON"));
    if (!doc) return "";
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root) || !yyjson_is_str(yyjson_obj_get(root, "script"))) {
        ac_set_error("api_script_run: input_json must be an object with a string 'script'");
        return "";
    }
    if (!open_runtime()) return "";
    DynBuf out;
    if (!s_runtime.run(input_json, std::strlen(input_json), static_cast<unsigned>(ac_options().timeout_script_ms), out)) {
        ac_set_error("api_script_run: %s", out.c_str());
        return "";
    }
    const char *text = s_output.set(out.c_str(), out.len(), "");
    if (!*text) ac_set_error("api_script_run: out of memory");
    return text;
}
