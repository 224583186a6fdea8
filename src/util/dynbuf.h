// The library's one growing byte buffer. Its content is always followed by a
// NUL, so it can be handed out as text at any time. It grows by one rule
// (at least double, at least 256 bytes, never past its ceiling), never
// shrinks until released, and may carry a ceiling beyond which appends fail
// without changing anything.
//
// Errors stick: once an append fails, every later one fails at once and
// error() keeps the first cause until reset() or release(), so a chain of
// appends is checked once, at its end (ok()).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "util/printf_format.h"

class DynBuf {
public:
    enum class Error { none, no_memory, too_large };

    constexpr explicit DynBuf(std::size_t max = 0) noexcept : max_(max) {}  // max 0: no ceiling
    ~DynBuf() { release(); }
    DynBuf(const DynBuf &) = delete;
    DynBuf &operator=(const DynBuf &) = delete;

    // Each returns false on failure (or after an earlier one), with the
    // content as it was and error() set.
    bool append(const void *data, std::size_t n) noexcept;
    bool append(const char *text) noexcept;
    bool append_byte(char c) noexcept { return append(&c, 1); }
    // printf-style, of any length.
    bool appendf(const char *fmt, ...) noexcept AC_PRINTF_FORMAT(2, 3);
    bool vappendf(const char *fmt, va_list ap) noexcept AC_PRINTF_FORMAT(2, 0);
    // One byte of a URL: '\\' as '/' when backslash_is_slash, "%XX" when
    // `escape`, else as it is.
    bool append_url_byte(unsigned char c, bool escape, bool backslash_is_slash) noexcept;
    // Room for `extra` more bytes (and the NUL) without another allocation.
    bool reserve(std::size_t extra) noexcept;

    // Cuts the content to its first n bytes (n <= len()); an error stays.
    void truncate(std::size_t n) noexcept;
    // Empties the content and the error, and keeps the allocation.
    void reset() noexcept;
    // A new ceiling (0: none) for the appends that follow.
    void set_max(std::size_t max) noexcept { max_ = max; }
    // Frees the allocation; the buffer is empty and may be used again.
    void release() noexcept;
    // Hands the malloc'd text to the caller (release with ac_free()); NULL when
    // nothing was ever allocated. The buffer is empty afterwards.
    char *take() noexcept;

    // The content as text: "" before the first allocation, never NULL.
    const char *c_str() const noexcept { return data_ ? data_ : ""; }
    char *data() noexcept { return data_; }
    std::size_t len() const noexcept { return len_; }
    std::size_t cap() const noexcept { return cap_; }
    Error error() const noexcept { return error_; }
    bool ok() const noexcept { return error_ == Error::none; }

private:
    char *data_ = nullptr;
    std::size_t len_ = 0;
    std::size_t cap_ = 0;
    std::size_t max_;
    Error error_ = Error::none;
};

// A result buffer that the next call of the same operation overwrites: the
// text is copied in whole, or `fallback` (a static constant) is returned
// when it cannot be, so the result is never NULL.
class ResultBuf {
public:
    const char *set(const char *text, std::size_t len, const char *fallback) noexcept;
    // Empties the text; pointers handed out earlier read "".
    void clear() noexcept { buf_.reset(); }
    void release() noexcept { buf_.release(); }

private:
    DynBuf buf_;
};
