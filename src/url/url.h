// URLs and their {{name}} placeholders: the one scanner, the one encoding
// table, the one joiner and the one splitter that the expansion, the imports,
// the exports and the request share.
#pragma once

#include <cstddef>

#include <yyjson.h>

#include "util/dynbuf.h"

// Longest placeholder name that expands; a longer one is plain text.
constexpr std::size_t placeholder_name_max = 255;

// Finds {{name}} placeholders, and separators outside them (and outside
// [IPv6] literals when asked). The next closing mark is remembered, so that
// a text full of unclosed "{{" or "[" is still scanned in linear time.
class PlaceholderScan {
public:
    PlaceholderScan(const char *s, std::size_t len) noexcept : s_(s), len_(len) {}

    // End (past "}}") of the placeholder opening at i, or 0 when none opens there.
    std::size_t end_at(std::size_t i) noexcept;
    // First of `stops` in [from, to) outside placeholders, or `to`.
    std::size_t find(std::size_t from, std::size_t to, const char *stops, bool brackets = false) noexcept;
    // Last of `stops` in [from, to) outside placeholders, or `to`.
    std::size_t find_last(std::size_t from, std::size_t to, const char *stops, bool brackets = false) noexcept;

private:
    std::size_t next_braces(std::size_t k) noexcept;
    std::size_t next_bracket(std::size_t k) noexcept;

    const char *s_;
    std::size_t len_;
    std::size_t braces_from_ = static_cast<std::size_t>(-1);  // the first "}}" at or after braces_from_ is at braces_at_
    std::size_t braces_at_ = 0;
    std::size_t bracket_from_ = static_cast<std::size_t>(-1);  // likewise for "]"
    std::size_t bracket_at_ = 0;
};

// Which bytes are percent-encoded: the runner's path and query sets (for URL
// text and for the values that land there), the userinfo set,
// encodeURIComponent, and encodeURIComponent plus ! ' ( ) * for forms.
enum class UrlSet { path, query, userinfo, component, form };

bool ac_url_byte_encoded(unsigned char c, UrlSet set) noexcept;
// Appends one byte of `set`, encoded when the table says so; in the path a
// backslash is read as '/', as the runner reads it.
bool ac_url_append_byte(DynBuf &out, unsigned char c, UrlSet set) noexcept;
// Appends s[0..len) percent-encoded; {{name}} placeholders are copied as they
// are, since their values are only known when the request is sent.
bool ac_url_encode(DynBuf &out, const char *s, std::size_t len, UrlSet set) noexcept;
// Appends s[0..len) with %XX sequences decoded (and '+' as a space when
// asked); placeholders are copied as they are, as ac_url_encode left them.
bool ac_url_decode(DynBuf &out, const char *s, std::size_t len, bool plus_is_space) noexcept;

// Appends the URL text of a url object's parts (protocol, auth, host, port,
// path with its ":name" variables filled, query, and the hash when asked),
// before it is normalised like any URL text.
bool ac_url_join(DynBuf &out, yyjson_val *url, bool with_hash) noexcept;
// Adds to the url object `url` the parts of raw[0..len): protocol, auth,
// host labels, port, path segments, query pairs and hash, split outside
// placeholders.
bool ac_url_split(yyjson_mut_doc *doc, yyjson_mut_val *url, const char *raw, std::size_t len) noexcept;

// Releases what api_url_parts_json returned last (api_cleanup).
void ac_url_cleanup() noexcept;
