#include "url_values.h"

#include "quorvane_apiclient.h"

namespace {

constexpr std::size_t max_name = 255;  // the library's longest placeholder name

void append_encoded(std::string &out, std::string_view value, bool query) {
    static const char hex[] = "0123456789ABCDEF";
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        bool encode = c <= 0x20 || c >= 0x7F || ch == '"' || ch == '<' || ch == '>' ||
                      (query ? ch == '\'' : (ch == '`' || ch == '{' || ch == '}'));
        if (!query && ch == '\\') {
            out += '/';
        } else if (encode) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += ch;
        }
    }
}

// How often the runner expands a value that names other variables again.
constexpr int nested_passes = 19;
// The library's own limit: values that repeat each other must not take all memory.
constexpr std::size_t max_expanded = std::size_t{64} << 20;

// `text` with its placeholders filled, values first expanded themselves up
// to `depth` more levels (a base URL of {{host}} and {{port}}), then encoded
// for their part of the URL when `encode` is set.
std::string expand(std::string_view url, bool encode, int depth) {
    std::string out;
    bool query = false;
    std::size_t i = 0;
    while (i < url.size() && out.size() <= max_expanded) {
        if (url.compare(i, 2, "{{") == 0) {
            std::size_t close = url.find("}}", i + 2);
            if (close != std::string_view::npos && close - (i + 2) <= max_name) {
                std::string_view name = url.substr(i + 2, close - i - 2);
                while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
                while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
                std::string value = name.empty() ? "" : api_env_get(std::string(name).c_str());
                if (!value.empty()) {
                    if (depth > 0 && value.find("{{") != std::string::npos) value = expand(value, false, depth - 1);
                    if (encode) {
                        append_encoded(out, value, query);
                    } else {
                        out += value;
                    }
                    i = close + 2;
                    continue;
                }
            }
        }
        if (url[i] == '?') query = true;
        out += url[i++];
    }
    if (i < url.size()) out.append(url.substr(i));  // past the limit: the library refuses it
    return out;
}

}  // namespace

std::string expand_url(std::string_view url) {
    std::string out = expand(url, true, nested_passes - 1);
    // The runner sends no fragment, even one a value brought in.
    if (std::size_t hash = out.find('#'); hash != std::string::npos) out.resize(hash);
    return out;
}
