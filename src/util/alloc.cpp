#include "util/alloc.h"

#include <cstdlib>

// A zero-byte request still gets a block, so that NULL always means failure.
void *ac_malloc(std::size_t size) noexcept { return std::malloc(size ? size : 1); }

void *ac_realloc(void *p, std::size_t size) noexcept { return std::realloc(p, size ? size : 1); }

void ac_free(void *p) noexcept { std::free(p); }

// yyjson's own allocator is malloc, which ac_free releases.
const yyjson_alc *ac_alc() noexcept { return nullptr; }

// Never curl_global_init_mem: in a shared library it would hand every
// libcurl transfer of the host process to our allocator.
CURLcode ac_curl_global_init() noexcept { return curl_global_init(CURL_GLOBAL_ALL); }
