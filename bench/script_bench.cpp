// Prints what the script engine costs: the size of the modules' bundle and
// of the embedded bytecode, the time to make a context and load the
// bytecode beside a plain empty QuickJS context, the first run of a tiny
// script, and the first use of every module (each is evaluated when first
// read), with the memory the context holds after each step.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <quickjs.h>

#include "bench_util.h"
#include "script/script.h"
#include "script/script_blob.h"

namespace {

const char tiny_input[] = R"({"event":"test","script":"x = 1 + 1"})";
const char modules_input[] =
    R"({"event":"test","script":"for (const name of Object.keys(__qv_modules)) __qv_modules[name];"})";

void run_or_exit(ScriptRuntime &rt, const char *input, std::size_t len) {
    DynBuf out;
    if (!rt.run(input, len, 0, out)) {
        std::fprintf(stderr, "script_bench: %s\n", out.c_str());
        std::exit(1);
    }
}

struct Figures {
    std::vector<double> open_ms, first_run_ms, all_modules_ms;
    std::size_t open_bytes = 0, all_modules_bytes = 0;
};

}  // namespace

int main() {
    const int rounds = 15;
    std::vector<double> plain_ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = clock_type::now();
        JSRuntime *rt = JS_NewRuntime();
        JSContext *ctx = JS_NewContext(rt);
        JS_FreeContext(ctx);
        JS_FreeRuntime(rt);
        plain_ms.push_back(millis_since(start));
    }

    Figures f;
    for (int i = 0; i < rounds; ++i) {
        ScriptRuntime rt;
        DynBuf error;
        auto start = clock_type::now();
        if (!rt.open(ScriptLimits{}, error)) {
            std::fprintf(stderr, "script_bench: %s\n", error.c_str());
            return 1;
        }
        f.open_ms.push_back(millis_since(start));
        f.open_bytes = rt.memory_used();
        start = clock_type::now();
        run_or_exit(rt, tiny_input, sizeof tiny_input - 1);
        f.first_run_ms.push_back(millis_since(start));
        start = clock_type::now();
        run_or_exit(rt, modules_input, sizeof modules_input - 1);
        f.all_modules_ms.push_back(millis_since(start));
        f.all_modules_bytes = rt.memory_used();
    }

    std::error_code ec;
    const auto bundle = std::filesystem::file_size(QV_SCRIPT_BUNDLE, ec);
    std::printf("modules bundle (esbuild):        %8.0f KiB\n", ec ? 0.0 : bundle / 1024.0);
    std::printf("embedded bytecode:               %8.0f KiB\n", qv_script_blob_size / 1024.0);
    std::printf("median of %d rounds, milliseconds:\n", rounds);
    std::printf("  empty QuickJS context:         %8.3f\n", median(plain_ms));
    std::printf("  context with the bytecode:     %8.3f\n", median(f.open_ms));
    std::printf("  then a tiny script:            %8.3f\n", median(f.first_run_ms));
    std::printf("  then every module first used:  %8.3f\n", median(f.all_modules_ms));
    std::printf("context heap, KiB: %.0f loaded, %.0f with every module\n", f.open_bytes / 1024.0,
                f.all_modules_bytes / 1024.0);
    return 0;
}
