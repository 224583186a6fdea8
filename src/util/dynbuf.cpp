#include "util/dynbuf.h"
#include "util/alloc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr std::size_t min_cap = 256;
}

bool DynBuf::reserve(std::size_t extra) noexcept {
    if (error_ != Error::none) return false;
    // The NUL after the content always has room.
    if (extra > SIZE_MAX - len_ - 1) {
        error_ = Error::too_large;
        return false;
    }
    std::size_t needed = len_ + extra + 1;
    if (max_ && needed - 1 > max_) {
        error_ = Error::too_large;
        return false;
    }
    if (needed <= cap_) return true;
    std::size_t want = cap_ < min_cap ? min_cap : cap_;
    while (want < needed) want = want > SIZE_MAX / 2 ? needed : want * 2;
    // A ceiling bounds the allocation too, not only the content.
    if (max_ && want > max_ + 1) want = max_ + 1;
    char *grown = static_cast<char *>(ac_realloc(data_, want));
    if (!grown) {
        error_ = Error::no_memory;
        return false;
    }
    data_ = grown;
    cap_ = want;
    if (len_ == 0) data_[0] = '\0';
    return true;
}

bool DynBuf::append(const void *data, std::size_t n) noexcept {
    if (!reserve(n)) return false;
    if (n) std::memcpy(data_ + len_, data, n);
    len_ += n;
    data_[len_] = '\0';
    return true;
}

bool DynBuf::append(const char *text) noexcept { return append(text, text ? std::strlen(text) : 0); }

bool DynBuf::appendf(const char *fmt, ...) noexcept {
    va_list ap;
    va_start(ap, fmt);
    bool ok = vappendf(fmt, ap);
    va_end(ap);
    return ok;
}

bool DynBuf::vappendf(const char *fmt, va_list ap) noexcept {
    va_list measure;
    va_copy(measure, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (n < 0) {
        error_ = Error::too_large;  // a length beyond what printf can report
        return false;
    }
    if (!reserve(static_cast<std::size_t>(n))) return false;
    std::vsnprintf(data_ + len_, cap_ - len_, fmt, ap);
    len_ += static_cast<std::size_t>(n);
    return true;
}

bool DynBuf::append_url_byte(unsigned char c, bool escape, bool backslash_is_slash) noexcept {
    static const char hex[] = "0123456789ABCDEF";
    if (backslash_is_slash && c == '\\') return append_byte('/');
    if (!escape) return append_byte(static_cast<char>(c));
    char esc[3] = {'%', hex[c >> 4], hex[c & 15]};
    return append(esc, 3);
}

void DynBuf::truncate(std::size_t n) noexcept {
    if (n >= len_) return;
    len_ = n;
    data_[n] = '\0';
}

void DynBuf::reset() noexcept {
    len_ = 0;
    error_ = Error::none;
    if (data_) data_[0] = '\0';
}

void DynBuf::release() noexcept {
    ac_free(data_);
    data_ = nullptr;
    len_ = cap_ = 0;
    error_ = Error::none;
}

char *DynBuf::take() noexcept {
    char *out = data_;
    data_ = nullptr;
    len_ = cap_ = 0;
    error_ = Error::none;
    return out;
}

const char *ResultBuf::set(const char *text, std::size_t len, const char *fallback) noexcept {
    buf_.reset();
    if (!buf_.append(text, len)) return fallback;
    return buf_.c_str();
}
