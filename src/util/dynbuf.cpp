#include "util/dynbuf.h"
#include "util/alloc.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr std::size_t min_cap = 256;
}

bool DynBuf::reserve(std::size_t extra) noexcept {
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
