#include "postman/json_writer.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t first_capacity = 256 * 1024;

// Bytes that yyjson writes as an escape: quote, backslash, control characters.
bool needs_escape(unsigned char c) noexcept { return c < 0x20 || c == '"' || c == '\\'; }

}  // namespace

JsonWriter::~JsonWriter() { std::free(buf_); }

bool JsonWriter::reserve(std::size_t extra) noexcept {
    if (!ok_) return false;
    if (len_ + extra + 1 <= cap_) return true;
    std::size_t want = cap_ ? cap_ : first_capacity;
    while (want < len_ + extra + 1) want *= 2;
    // Large blocks grow in place through mremap; pages never written are never touched.
    char *grown = static_cast<char *>(std::realloc(buf_, want));
    if (!grown) {
        ok_ = false;
        return false;
    }
    buf_ = grown;
    cap_ = want;
    return true;
}

void JsonWriter::append(const char *s, std::size_t n) noexcept {
    if (!reserve(n)) return;
    std::memcpy(buf_ + len_, s, n);
    len_ += n;
    buf_[len_] = '\0';
}

void JsonWriter::newline_indent(int depth) noexcept {
    std::size_t n = 1 + 4 * static_cast<std::size_t>(depth);
    if (!reserve(n)) return;
    buf_[len_] = '\n';
    std::memset(buf_ + len_ + 1, ' ', n - 1);
    len_ += n;
    buf_[len_] = '\0';
}

void JsonWriter::separate() noexcept {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (depth_ == 0) return;
    if (counts_[depth_ - 1]++) append(",", 1);
    if (pretty_) newline_indent(depth_);
}

void JsonWriter::begin(char open) noexcept {
    separate();
    if (depth_ == max_depth) {
        ok_ = false;
        return;
    }
    append(&open, 1);
    counts_[depth_++] = 0;
}

void JsonWriter::end(char close) noexcept {
    if (depth_ == 0) {
        ok_ = false;
        return;
    }
    --depth_;
    if (pretty_ && counts_[depth_]) newline_indent(depth_);
    append(&close, 1);
}

void JsonWriter::quoted(const char *s, std::size_t n) noexcept {
    static const char hex[] = "0123456789ABCDEF";
    // Room for the common case, a string without escapes, in one step.
    if (!reserve(n + 2)) return;
    buf_[len_++] = '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (!needs_escape(c)) continue;
        append(s + run, i - run);
        run = i + 1;
        char esc[6] = {'\\', 0, 0, 0, 0, 0};
        std::size_t len = 2;
        switch (c) {
            case '"': esc[1] = '"'; break;
            case '\\': esc[1] = '\\'; break;
            case '\b': esc[1] = 'b'; break;
            case '\f': esc[1] = 'f'; break;
            case '\n': esc[1] = 'n'; break;
            case '\r': esc[1] = 'r'; break;
            case '\t': esc[1] = 't'; break;
            default:
                esc[1] = 'u';
                esc[2] = '0';
                esc[3] = '0';
                esc[4] = hex[c >> 4];
                esc[5] = hex[c & 0xF];
                len = 6;
        }
        append(esc, len);
    }
    append(s + run, n - run);
    append("\"", 1);
}

void JsonWriter::key(const char *s, std::size_t n) noexcept {
    separate();
    quoted(s, n);
    if (pretty_) {
        append(": ", 2);
    } else {
        append(":", 1);
    }
    after_key_ = true;
}

void JsonWriter::key(const char *s) noexcept { key(s, std::strlen(s)); }

void JsonWriter::string(const char *s, std::size_t n) noexcept {
    separate();
    quoted(s, n);
}

void JsonWriter::string(const char *s) noexcept { string(s, std::strlen(s)); }

void JsonWriter::null() noexcept {
    separate();
    append("null", 4);
}
