#include "platform/platform.h"
#include "util/alloc.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <time.h>

#include "platform/win32/win32_calls.h"

#include <bcrypt.h>

Win32RenameCalls ac_win32_rename_calls = {MoveFileExA, MoveFileA};

namespace {

constexpr std::size_t temp_name_size = 1088;
constexpr unsigned max_temp_attempts = 100;
// Between 1601-01-01 (the FILETIME epoch) and 1970-01-01, in 100 ns steps.
constexpr std::uint64_t filetime_to_unix = 116444736000000000u;
// The target moved aside during a two-step replacement: "<temporary>.old".
constexpr char aside_suffix[] = ".old";

// Length of the directory part of path, separator included: Windows takes
// either slash, and "C:name" lies in drive C's current directory.
std::size_t dir_part_len(const char *path) noexcept {
    std::size_t len = 0;
    for (std::size_t i = 0; path[i]; ++i) {
        if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':')) len = i + 1;
    }
    return len;
}

bool process_is_gone(DWORD pid) noexcept {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    bool gone = GetExitCodeProcess(h, &code) && code != STILL_ACTIVE;
    CloseHandle(h);
    return gone;
}

// True when `rest` (what follows "<target>.tmp.") names a process that no
// longer runs: "<pid>.<ms>", "<pid>.<ms>.<n>", either with ".old" after it.
bool names_dead_process(const char *rest) noexcept {
    char *end = nullptr;
    errno = 0;
    unsigned long pid = std::strtoul(rest, &end, 10);
    if (errno || end == rest || *end != '.' || pid == 0) return false;
    std::size_t len = std::strlen(end);
    constexpr std::size_t suffix_len = sizeof aside_suffix - 1;
    if (len > suffix_len && std::strcmp(end + len - suffix_len, aside_suffix) == 0) len -= suffix_len;
    for (std::size_t i = 1; i < len; ++i) {
        if ((end[i] < '0' || end[i] > '9') && end[i] != '.') return false;
    }
    if (pid == static_cast<unsigned long>(_getpid())) return false;
    return process_is_gone(static_cast<DWORD>(pid));
}

// A save killed mid-write leaves its temporary file behind; the next
// successful replacement of the same target removes those of dead processes.
void remove_stale_temps(const char *path) noexcept {
    char pattern[temp_name_size];
    int n = std::snprintf(pattern, sizeof pattern, "%s.tmp.*", path);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof pattern) return;
    const char *base = path + dir_part_len(path);
    char prefix[temp_name_size];
    int prefix_len = std::snprintf(prefix, sizeof prefix, "%s.tmp.", base);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        // The pattern also matches short 8.3 names: check the long one.
        if (std::strncmp(found.cFileName, prefix, static_cast<std::size_t>(prefix_len)) != 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!names_dead_process(found.cFileName + prefix_len)) continue;
        char stale[2 * temp_name_size];
        std::snprintf(stale, sizeof stale, "%.*s%s", static_cast<int>(base - path), path, found.cFileName);
        DeleteFileA(stale);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Creates the temporary file beside `path` exclusively: an existing entry
// of that name, a link included, is never opened, so nothing planted there
// can be overwritten; a clash retries under a further name. -1 on failure.
int create_temp(const char *path, char (&temp)[temp_name_size]) noexcept {
    auto pid = static_cast<unsigned>(_getpid());
    auto stamp = static_cast<unsigned long>(ac_now_millis() & 0xFFFFFFFFu);
    for (unsigned attempt = 0; attempt < max_temp_attempts; ++attempt) {
        int n = attempt == 0 ? std::snprintf(temp, sizeof temp, "%s.tmp.%u.%lu", path, pid, stamp)
                             : std::snprintf(temp, sizeof temp, "%s.tmp.%u.%lu.%u", path, pid, stamp, attempt);
        // A cut name could be the target itself or another file beside it.
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof temp) return -1;
        int fd = _open(temp, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes all bytes through a "wb" stream (no line-end translation) and
// commits them to the disk: without that a crash after the rename could
// leave an empty file in the target's place.
bool write_durably(int fd, const char *p, std::uint64_t n) noexcept {
    std::FILE *f = _fdopen(fd, "wb");
    if (!f) {
        _close(fd);
        return false;
    }
    bool ok = true;
    while (ok && n > 0) {
        std::size_t chunk = n > (1u << 30) ? (1u << 30) : static_cast<std::size_t>(n);
        ok = std::fwrite(p, 1, chunk, f) == chunk;
        p += chunk;
        n -= chunk;
    }
    ok = ok && std::fflush(f) == 0;
    ok = ok && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

// Where a file system cannot replace in one step, the target is moved aside
// rather than deleted and put back if the second rename fails: a failed save
// must never lose the file it was meant to replace. Directories, links and
// read-only files are never replaced, as the one-step rename would not either.
bool replace_in_two_steps(const char *temp, const char *path) noexcept {
    DWORD attrs = GetFileAttributesA(path);
    constexpr DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & kept) != 0) return false;
    char aside[temp_name_size + sizeof aside_suffix];
    std::snprintf(aside, sizeof aside, "%s%s", temp, aside_suffix);
    if (!ac_win32_rename_calls.move_file(path, aside)) return false;
    if (ac_win32_rename_calls.move_file(temp, path)) {
        DeleteFileA(aside);
        return true;
    }
    ac_win32_rename_calls.move_file(aside, path);
    return false;
}

}  // namespace

std::uint64_t ac_now_millis() noexcept {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - filetime_to_unix) / 10000u;
}

std::int64_t ac_now_secs() noexcept {
    return static_cast<std::int64_t>(_time64(nullptr));
}

std::FILE *ac_open_regular_file(const char *path, std::uint64_t *size) noexcept {
    if (!path || !*path) return nullptr;
    // Opening never waits, whatever the name: it is a read from CON, a pipe
    // or a serial port that would block or never end, so only a file on a
    // disk is kept.
    int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return nullptr;
    struct _stat64 st {};
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG || st.st_size < 0 ||
        GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK ||
        static_cast<std::uint64_t>(st.st_size) >= SIZE_MAX) {
        _close(fd);
        return nullptr;
    }
    std::FILE *f = _fdopen(fd, "rb");
    if (!f) {
        _close(fd);
        return nullptr;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return f;
}

char *ac_read_file(const char *path, std::uint64_t *size_out, bool *no_memory) noexcept {
    if (no_memory) *no_memory = false;
    std::uint64_t file_size = 0;
    std::FILE *f = ac_open_regular_file(path, &file_size);
    if (!f) return nullptr;
    std::size_t size = static_cast<std::size_t>(file_size);
    char *buf = static_cast<char *>(ac_malloc(size + 1));
    if (!buf) {
        if (no_memory) *no_memory = true;
        std::fclose(f);
        return nullptr;
    }
    std::size_t got = 0;
    while (got < size) {
        std::size_t r = std::fread(buf + got, 1, size - got, f);
        if (r == 0) break;  // a read that stops early keeps what arrived
        got += r;
    }
    if (got == 0 && size > 0 && std::ferror(f)) {
        std::fclose(f);
        ac_free(buf);
        return nullptr;
    }
    std::fclose(f);
    buf[got] = '\0';
    if (size_out) *size_out = got;
    return buf;
}

std::uint64_t ac_entropy() noexcept {
    std::uint64_t value = 0;
    NTSTATUS status = BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return BCRYPT_SUCCESS(status) ? value : 0;
}

// Schannel takes no certificates beside the system's store.
bool ac_tls_trust_more(void *, const char *, std::size_t) noexcept { return false; }

bool ac_sha256(const void *data, std::size_t len, unsigned char (&digest)[32]) noexcept {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0));
    // CNG takes at most a ULONG at a time.
    const auto *p = static_cast<const unsigned char *>(data);
    for (std::size_t done = 0; ok && done < len;) {
        ULONG n = static_cast<ULONG>(len - done > 0x40000000u ? 0x40000000u : len - done);
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(p + done), n, 0));
        done += n;
    }
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
    if (hash) BCryptDestroyHash(hash);
    if (alg) BCryptCloseAlgorithmProvider(alg, 0);
    return ok;
}

int ac_write_file_atomic(const char *path, const void *data, std::uint64_t size) noexcept {
    if (!path || !*path) return 0;
    if (!data && size != 0) return 0;
    char temp[temp_name_size];
    int fd = create_temp(path, temp);
    if (fd < 0) return 0;
    bool ok = write_durably(fd, static_cast<const char *>(data), size);
    // Write-through: the rename itself is on the disk when the call returns.
    ok = ok && (ac_win32_rename_calls.move_file_ex(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
                replace_in_two_steps(temp, path));
    if (!ok) {
        _unlink(temp);
        return 0;
    }
    remove_stale_temps(path);
    return 1;
}

void ac_make_dir(const char *path) noexcept {
    if (path && *path) _mkdir(path);
}

char *ac_real_path(const char *path, bool *is_dir) noexcept {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    bool dir = GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    DWORD n = GetFinalPathNameByHandleA(h, nullptr, 0, FILE_NAME_NORMALIZED);
    char *out = n ? static_cast<char *>(ac_malloc(n + 1)) : nullptr;
    DWORD got = out ? GetFinalPathNameByHandleA(h, out, n + 1, FILE_NAME_NORMALIZED) : 0;
    CloseHandle(h);
    if (!got || got > n) {
        ac_free(out);
        return nullptr;
    }
    // "\\?\C:\x" is "C:\x"; "\\?\UNC\host\share" is "\\host\share".
    if (std::strncmp(out, "\\\\?\\UNC\\", 8) == 0) {
        std::memmove(out + 2, out + 8, std::strlen(out + 8) + 1);
    } else if (std::strncmp(out, "\\\\?\\", 4) == 0) {
        std::memmove(out, out + 4, std::strlen(out + 4) + 1);
    }
    if (is_dir) *is_dir = dir;
    return out;
}

bool ac_path_inside(const char *dir, const char *path) noexcept {
    std::size_t n = std::strlen(dir);
    if (n > 0 && dir[n - 1] == '\\') --n;  // a drive's root
    return _strnicmp(dir, path, n) == 0 && path[n] == '\\';
}
