// The library's allocation functions for the test build: every allocation of
// the library and of yyjson is counted and can be made to fail; libcurl's are
// counted only. libcurl may allocate on its resolver thread, so the counts
// are atomic.
#include "hooks/alloc_hooks.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "util/alloc.h"

namespace {

std::atomic<long> s_count{0};
std::atomic<long> s_fail_at{-1};  // in terms of s_count; negative: never
std::atomic<bool> s_fail_after{false};
std::atomic<bool> s_failed{false};
std::atomic<long> s_live{0};  // blocks handed out and not yet freed

bool fail_now() noexcept {
    long n = s_count.fetch_add(1, std::memory_order_relaxed);
    long at = s_fail_at.load(std::memory_order_relaxed);
    if (at < 0 || n < at || (n > at && !s_fail_after.load(std::memory_order_relaxed))) return false;
    s_failed = true;
    return true;
}

void *counted(void *p) noexcept {
    if (p) s_live.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void *yy_malloc(void *, std::size_t size) noexcept { return ac_malloc(size); }
void *yy_realloc(void *, void *p, std::size_t, std::size_t size) noexcept { return ac_realloc(p, size); }
void yy_free(void *, void *p) noexcept { ac_free(p); }

const yyjson_alc s_yyjson_alc = {yy_malloc, yy_realloc, yy_free, nullptr};

// libcurl's blocks are counted but never failed on purpose: libcurl 7.88
// itself drops a URL's query when one of its allocations fails there, and a
// test must not blame the library for that.
void *curl_malloc(std::size_t size) noexcept { return counted(std::malloc(size ? size : 1)); }

void *curl_realloc(void *p, std::size_t size) noexcept {
    void *grown = std::realloc(p, size ? size : 1);
    return p ? grown : counted(grown);
}

void *curl_calloc(std::size_t n, std::size_t size) noexcept { return counted(std::calloc(n ? n : 1, size ? size : 1)); }

char *curl_strdup(const char *s) noexcept {
    std::size_t n = std::strlen(s) + 1;
    auto *p = static_cast<char *>(curl_malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

}  // namespace

void *ac_malloc(std::size_t size) noexcept { return fail_now() ? nullptr : counted(std::malloc(size ? size : 1)); }

void *ac_realloc(void *p, std::size_t size) noexcept {
    void *grown = fail_now() ? nullptr : std::realloc(p, size ? size : 1);
    return p ? grown : counted(grown);
}

void ac_free(void *p) noexcept {
    if (p) s_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

const yyjson_alc *ac_alc() noexcept { return &s_yyjson_alc; }

CURLcode ac_curl_global_init() noexcept {
    return curl_global_init_mem(CURL_GLOBAL_ALL, curl_malloc, ac_free, curl_realloc, curl_strdup, curl_calloc);
}

long ac_alloc_count() noexcept { return s_count.load(); }

void ac_alloc_fail(long nth, bool every_after) noexcept {
    s_fail_after = every_after;
    s_failed = false;
    s_fail_at = nth < 0 ? -1 : s_count.load() + nth;
}

bool ac_alloc_failed() noexcept { return s_failed.load(); }

long ac_alloc_live() noexcept { return s_live.load(); }
