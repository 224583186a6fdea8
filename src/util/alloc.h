// Every allocation of the library goes through here, yyjson's (ac_alc)
// included. The shipped library allocates plainly; the test build links
// tests/hooks/alloc_hooks.cpp in place of alloc.cpp, which counts every
// allocation and can make any one of them fail.
#pragma once

#include <cstddef>

#include <curl/curl.h>
#include <yyjson.h>

void *ac_malloc(std::size_t size) noexcept;
void *ac_realloc(void *p, std::size_t size) noexcept;
void ac_free(void *p) noexcept;

// The allocator to hand to every yyjson read, write and document.
const yyjson_alc *ac_alc() noexcept;

// libcurl's global initialisation (the test build routes its allocations
// through the hooks too).
CURLcode ac_curl_global_init() noexcept;
