// Library-wide state shared between modules: the last-error message, the
// storage directory and the last response.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t last_error_size = 2048;
constexpr std::size_t storage_dir_size = 1024;
constexpr std::size_t time_json_size = 512;

extern int g_initialized;
extern char g_last_error[last_error_size];
extern char g_storage_dir[storage_dir_size];

extern int g_response_status;
extern char *g_response_headers_json;
// Body of the last response followed by one NUL; length excludes the NUL.
// The buffer survives between requests; only api_cleanup frees it.
extern char *g_response_body;
extern std::uint64_t g_response_body_len;
extern std::uint64_t g_response_body_cap;
extern char g_response_time_json[time_json_size];

// Replaces the last-error message (cut at 2047 bytes).
void ac_set_error(const char *fmt, ...) noexcept __attribute__((format(printf, 1, 2)));
void ac_clear_error() noexcept;

// Empties the response state; the body buffer itself is kept.
void clear_response_buffers() noexcept;

// Initialises libcurl and resets the stores the way api_request does for a
// host that never called api_init.
void ac_lazy_init() noexcept;
