// Every allocation of the library goes through here, yyjson's (ac_alc)
// included, so that a test can make any one of them fail and check that
// nothing is lost or reported as a success. libcurl's go through here too
// (ac_curl_global_init), counted but never failed.
#pragma once

#include <cstddef>

#include <curl/curl.h>
#include <yyjson.h>

void *ac_malloc(std::size_t size) noexcept;
void *ac_realloc(void *p, std::size_t size) noexcept;
void ac_free(void *p) noexcept;

// The allocator to hand to every yyjson read, write and document.
const yyjson_alc *ac_alc() noexcept;

// curl_global_init with libcurl's allocations routed through the hook.
CURLcode ac_curl_global_init() noexcept;

// For tests: the allocations made so far, and making them fail. Allocation
// number `nth` (counting from the call, 0 first) fails, and every later one
// too when `every_after`; a negative nth stops failing.
long ac_alloc_count() noexcept;
void ac_alloc_fail(long nth, bool every_after) noexcept;
// True once an allocation has been failed since the last ac_alloc_fail.
bool ac_alloc_failed() noexcept;
// Blocks allocated through the hook and not yet freed.
long ac_alloc_live() noexcept;
