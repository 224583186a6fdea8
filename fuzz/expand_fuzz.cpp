// {{name}} expansion (ac_env_substitute, what api_request applies to the URL,
// body and header values) over a fuzzed environment. The input is one flags
// byte (1: nested_variables, 2: dynamic_variables, 4: results may pass
// 256 KiB), then NUL separated: the text, then key, value, key, value, ...
// Invariant: the result is what an independent expander makes of the text,
// or "too large" exactly when that passes the 64 MiB limit.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "env/env.h"
#include "quorvane_apiclient.h"
#include "support.h"

namespace {

constexpr std::size_t max_variables = 1000;
constexpr std::size_t max_name = 255;
constexpr int nested_passes = 19;
// Expansions past this size take seconds; only inputs with flag 4 go
// further, up to the library's limit, and only when replayed: a campaign
// would otherwise spend most of its time on them.
constexpr std::size_t quick_cap = std::size_t{256} << 10;
#ifdef QV_FUZZ_CAMPAIGN
constexpr bool allow_big = false;
#else
constexpr bool allow_big = true;
#endif
// A value is inserted cut to its first 8191 bytes, as api_env_get gives it.
constexpr std::size_t value_cut = 8191;

using Env = std::vector<std::pair<std::string, std::string>>;

const std::string *lookup(const Env &env, const std::string &name) {
    for (const auto &[k, v] : env) {
        if (k == name) return &v;
    }
    return nullptr;
}

// One left-to-right pass; nothing when the result would pass `cap` bytes.
std::optional<std::string> expand_once(std::string_view text, const Env &env, std::size_t cap) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.substr(i, 2) == "{{") {
            std::size_t name_at = i + 2;
            // The closing "}}" must start within max_name + 1 bytes of the name.
            std::size_t close = text.substr(name_at, max_name + 2).find("}}");
            if (close != std::string_view::npos) {
                std::string_view name = text.substr(name_at, close);
                while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
                while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
                const std::string *value = name.empty() ? nullptr : lookup(env, std::string(name));
                if (value && !value->empty()) {
                    out += value->substr(0, value_cut);
                    i = name_at + close + 2;
                    if (out.size() > cap) return std::nullopt;
                    continue;
                }
            }
        }
        std::size_t brace = text.find('{', i + 1);
        std::size_t run = (brace == std::string_view::npos ? text.size() : brace) - i;
        out.append(text.substr(i, run));
        i += run;
        if (out.size() > cap) return std::nullopt;
    }
    return out;
}

std::optional<std::string> expand(std::string text, const Env &env, bool nested, std::size_t cap) {
    for (int pass = 0; pass < (nested ? nested_passes : 1) && text.find("{{") != std::string::npos; ++pass) {
        std::optional<std::string> next = expand_once(text, env, cap);
        if (!next || *next == text) return next;
        text = std::move(*next);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    fuzz_reset();
    const bool nested = data[0] & 1, dynamic = data[0] & 2;
    std::string options = std::string("{\"nested_variables\":") + (nested ? "true" : "false") +
                          ",\"dynamic_variables\":" + (dynamic ? "true" : "false") + "}";
    FUZZ_CHECK(api_configure(options.c_str()) == 1, api_last_error());

    std::vector<std::string_view> pieces = fuzz_split(data + 1, size - 1, SIZE_MAX);
    std::string text(pieces[0]);
    Env env;
    bool dollar = text.find('$') != std::string::npos;
    for (std::size_t i = 1; i + 1 < pieces.size(); i += 2) {
        std::string key(pieces[i]), value(pieces[i + 1]);
        bool stored = api_env_set(key.c_str(), value.c_str()) == 1;
        bool known = lookup(env, key) != nullptr;
        FUZZ_CHECK(stored == (!key.empty() && (known || env.size() < max_variables)),
                   "api_env_set(" + key + ") gave " + std::to_string(stored));
        if (!stored) continue;
        if (known) {
            for (auto &[k, v] : env) {
                if (k == key) v = value;
            }
        } else {
            env.emplace_back(key, value);
        }
        dollar = dollar || value.find('$') != std::string::npos;
    }

    const bool big = allow_big && (data[0] & 4);
    std::optional<std::string> want = expand(text, env, nested, big ? expand_limit : quick_cap);
    if (!want && !big) return 0;

    ExpandError error = ExpandError::none;
    char *result = ac_env_substitute(text.c_str(), &error);
    const bool produced = result != nullptr;
    std::string got = produced ? result : "";
    std::free(result);
    // Dynamic values are fresh each time: only texts that cannot name one compare exactly.
    if (dynamic && dollar) {
        FUZZ_CHECK(produced || error == ExpandError::too_large, "expansion failed without a reason");
        return 0;
    }
    if (!want) {
        FUZZ_CHECK(!produced && error == ExpandError::too_large,
                   "an expansion past the limit gave " + std::to_string(got.size()) + " bytes");
        return 0;
    }
    FUZZ_CHECK(produced && error == ExpandError::none,
               "expansion failed: " + std::string(ac_expand_error_message(error)));
    FUZZ_CHECK(got == *want, "expanded '" + text.substr(0, 200) + "' to " + std::to_string(got.size()) + " bytes, " +
                                 std::to_string(want->size()) + " expected; first difference at byte " +
                                 std::to_string(std::mismatch(got.begin(), got.end(), want->begin(), want->end()).first -
                                                got.begin()));
    return 0;
}
