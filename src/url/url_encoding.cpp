#include <cstring>

#include "url/url.h"

namespace {

bool alnum(unsigned char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Copies placeholders as they are and hands every other byte, at i, to
// `step`, which appends what it makes of it and moves i on.
template <typename Step>
bool outside_placeholders(DynBuf &out, const char *s, std::size_t len, Step step) noexcept {
    PlaceholderScan scan(s, len);
    for (std::size_t i = 0; i < len;) {
        if (std::size_t e = scan.end_at(i)) {
            if (!out.append(s + i, e - i)) return false;
            i = e;
        } else if (!step(i)) {
            return false;
        }
    }
    return true;
}

}  // namespace

// The runner's sets as measured. '#' and '?' are not in the path and query
// sets: in URL text they end those parts, and in a value they go out as they are.
bool ac_url_byte_encoded(unsigned char c, UrlSet set) noexcept {
    if (c <= 0x20 || c >= 0x7F) return true;
    switch (set) {
    case UrlSet::path: return std::strchr("\"<>`{}", c) != nullptr;
    case UrlSet::query: return std::strchr("\"'<>", c) != nullptr;
    case UrlSet::userinfo: return std::strchr("\"#<>?`{}/:;=@[\\]^|", c) != nullptr;
    case UrlSet::component: return !alnum(c) && !std::strchr("-_.!~*'()", c);
    case UrlSet::form: return !alnum(c) && !std::strchr("-_.~", c);
    }
    return true;
}

bool ac_url_append_byte(DynBuf &out, unsigned char c, UrlSet set) noexcept {
    return out.append_url_byte(c, ac_url_byte_encoded(c, set), set == UrlSet::path);
}

bool ac_url_encode(DynBuf &out, const char *s, std::size_t len, UrlSet set) noexcept {
    return outside_placeholders(out, s, len, [&](std::size_t &i) {
        return ac_url_append_byte(out, static_cast<unsigned char>(s[i++]), set);
    });
}

bool ac_url_decode(DynBuf &out, const char *s, std::size_t len, bool plus_is_space) noexcept {
    return outside_placeholders(out, s, len, [&](std::size_t &i) {
        char c = s[i++];
        if (c == '%' && i + 1 < len && hex_value(s[i]) >= 0 && hex_value(s[i + 1]) >= 0) {
            c = static_cast<char>(hex_value(s[i]) * 16 + hex_value(s[i + 1]));
            i += 2;
        } else if (c == '+' && plus_is_space) {
            c = ' ';
        }
        return out.append_byte(c);
    });
}
