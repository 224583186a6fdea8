// Library-wide state shared between modules: the initialised flag, the
// last-error message and the storage directory. The last response is in
// response.h.
#pragma once

#include <cstddef>

#include "util/printf_format.h"

constexpr std::size_t last_error_size = 2048;
constexpr std::size_t storage_dir_size = 1024;

extern int g_initialized;
extern char g_last_error[last_error_size];
extern char g_storage_dir[storage_dir_size];

// Replaces the last-error message (cut at 2047 bytes).
void ac_set_error(const char *fmt, ...) noexcept AC_PRINTF_FORMAT(1, 2);
void ac_clear_error() noexcept;

// Initialises libcurl and resets the stores the way api_request does for a
// host that never called api_init.
void ac_lazy_init() noexcept;
