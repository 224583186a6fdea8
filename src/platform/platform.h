// Clock and files: the few services through which the stores touch the machine.
// None of them writes the last-error message; callers report in their own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Milliseconds since 1970-01-01 00:00:00 UTC, from the real-time clock.
std::uint64_t ac_now_millis() noexcept;

// Seconds since 1970-01-01 00:00:00 UTC.
std::int64_t ac_now_secs() noexcept;

// The whole file followed by one NUL, released with ac_free(); NULL for a null
// or empty path, a missing or unreadable file, or a directory, and when its
// bytes cannot be allocated (then *no_memory, when given, is set). *size_out
// (may be NULL) receives the number of bytes read, only on success.
char *ac_read_file(const char *path, std::uint64_t *size_out, bool *no_memory = nullptr) noexcept;

// The file opened for binary reading, with its size in *size; NULL for
// anything but a regular file. A FIFO or device never blocks the call.
std::FILE *ac_open_regular_file(const char *path, std::uint64_t *size) noexcept;

// Replaces the file at path with exactly `size` bytes: written to a temporary
// file beside it, flushed to disk, then renamed over it. Returns 1 on success;
// on failure 0, with the temporary file removed and the target untouched. A path
// whose temporary name would not fit in 1087 bytes fails without writing.
int ac_write_file_atomic(const char *path, const void *data, std::uint64_t size) noexcept;

// 64 bits from the system's entropy source, or 0 when it has none to give.
std::uint64_t ac_entropy() noexcept;

// Makes the TLS handshakes of the transfer `curl_handle` (a CURL *) trust the
// PEM certificates in pem[0..len) beside the system's authorities; the text
// must outlive the transfer. False when this build's TLS library cannot
// (Schannel).
bool ac_tls_trust_more(void *curl_handle, const char *pem, std::size_t len) noexcept;

// SHA-256 of data[0..len) by the system's crypto library (libcrypto,
// CNG on Windows); false when it cannot give one.
bool ac_sha256(const void *data, std::size_t len, unsigned char (&digest)[32]) noexcept;

// Creates one directory level; failure (existing, missing parent) is silent.
void ac_make_dir(const char *path) noexcept;

// The absolute path of an existing file or directory with every link, "."
// and ".." resolved (ac_malloc'd), or NULL; *is_dir tells which it is.
char *ac_real_path(const char *path, bool *is_dir) noexcept;

// Whether `path` lies inside the directory `dir`, both as ac_real_path gives them.
bool ac_path_inside(const char *dir, const char *path) noexcept;

// What joins a directory and a file name in the paths the library makes.
#if defined(_WIN32)
inline constexpr char ac_dir_separator = '\\';
#else
inline constexpr char ac_dir_separator = '/';
#endif
