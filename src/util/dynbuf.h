// The library's one growing byte buffer. Its content is always followed by a
// NUL, so it can be handed out as text at any time. It grows by one rule
// (at least double, at least 256 bytes), never shrinks until released, and
// may carry a ceiling beyond which appends fail without changing anything.
#pragma once

#include <cstddef>
#include <cstdint>

class DynBuf {
public:
    enum class Error { none, no_memory, too_large };

    constexpr explicit DynBuf(std::size_t max = 0) noexcept : max_(max) {}  // max 0: no ceiling
    ~DynBuf() { release(); }
    DynBuf(const DynBuf &) = delete;
    DynBuf &operator=(const DynBuf &) = delete;

    // Each returns false on failure, with the buffer as it was and error() set.
    bool append(const void *data, std::size_t n) noexcept;
    bool append(const char *text) noexcept;
    bool append_byte(char c) noexcept { return append(&c, 1); }
    // Room for `extra` more bytes (and the NUL) without another allocation.
    bool reserve(std::size_t extra) noexcept;

    // Cuts the content to its first n bytes (n <= len()).
    void truncate(std::size_t n) noexcept;
    // Empties the content and keeps the allocation.
    void reset() noexcept;
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
