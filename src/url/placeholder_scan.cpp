#include <cstring>

#include "url/url.h"

std::size_t PlaceholderScan::next_braces(std::size_t k) noexcept {
    if (braces_from_ == static_cast<std::size_t>(-1) || k < braces_from_ || k > braces_at_) {
        braces_from_ = k;
        braces_at_ = len_;
        for (std::size_t p = k; p + 1 < len_; ++p) {
            if (s_[p] == '}' && s_[p + 1] == '}') {
                braces_at_ = p;
                break;
            }
        }
    }
    return braces_at_;
}

std::size_t PlaceholderScan::next_bracket(std::size_t k) noexcept {
    if (bracket_from_ == static_cast<std::size_t>(-1) || k < bracket_from_ || k > bracket_at_) {
        bracket_from_ = k;
        const void *close = k < len_ ? std::memchr(s_ + k, ']', len_ - k) : nullptr;
        bracket_at_ = close ? static_cast<std::size_t>(static_cast<const char *>(close) - s_) : len_;
    }
    return bracket_at_;
}

std::size_t PlaceholderScan::end_at(std::size_t i) noexcept {
    if (i + 1 >= len_ || s_[i] != '{' || s_[i + 1] != '{') return 0;
    std::size_t close = next_braces(i + 2);
    return close < len_ ? close + 2 : 0;
}

std::size_t PlaceholderScan::find(std::size_t from, std::size_t to, const char *stops, bool brackets) noexcept {
    std::size_t i = from;
    while (i < to) {
        if (std::size_t e = end_at(i); e && e <= to) {
            i = e;
            continue;
        }
        if (brackets && s_[i] == '[') {
            std::size_t close = next_bracket(i + 1);
            if (close < to) {
                i = close + 1;
                continue;
            }
        }
        if (s_[i] && std::strchr(stops, s_[i])) return i;
        ++i;
    }
    return to;
}

std::size_t PlaceholderScan::find_last(std::size_t from, std::size_t to, const char *stops, bool brackets) noexcept {
    std::size_t last = to;
    for (std::size_t i = find(from, to, stops, brackets); i < to; i = find(i + 1, to, stops, brackets)) last = i;
    return last;
}
