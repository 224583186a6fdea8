// The allocation hooks of the test build (alloc_hooks.cpp stands in for the
// library's util/alloc.cpp in what the tests link): counts of the
// allocations made, and making them fail.
#pragma once

// Allocation number `nth` (counting from the call, 0 first) fails, and every
// later one too when `every_after`; a negative nth stops failing.
long ac_alloc_count() noexcept;
void ac_alloc_fail(long nth, bool every_after) noexcept;
// True once an allocation has been failed since the last ac_alloc_fail.
bool ac_alloc_failed() noexcept;
// Blocks allocated through the hooks (libcurl's included) and not yet freed.
long ac_alloc_live() noexcept;
