#include "platform/platform.h"
#include "util/alloc.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace {

constexpr std::size_t temp_name_size = 1088;
constexpr unsigned max_temp_attempts = 100;

bool write_all(int fd, const char *p, std::uint64_t n) noexcept {
    while (n > 0) {
        std::size_t chunk = n > (1u << 30) ? (1u << 30) : static_cast<std::size_t>(n);
        ssize_t w = ::write(fd, p, chunk);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::uint64_t>(w);
    }
    return true;
}

// Makes a completed rename durable: the directory entry must reach the disk too.
void sync_parent_dir(const char *path) noexcept {
    const char *slash = std::strrchr(path, '/');
    char dir[temp_name_size];
    if (!slash) {
        std::snprintf(dir, sizeof dir, ".");
    } else if (slash == path) {
        std::snprintf(dir, sizeof dir, "/");
    } else {
        std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - path), path);
    }
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// True when `rest` (what follows "<target>.tmp.") names a process that no
// longer runs: "<pid>.<ms>" or "<pid>.<ms>.<n>".
bool names_dead_process(const char *rest) noexcept {
    char *end = nullptr;
    errno = 0;
    unsigned long pid = std::strtoul(rest, &end, 10);
    if (errno || end == rest || *end != '.' || pid == 0 || pid > 0x7FFFFFFFul) return false;
    for (const char *p = end + 1; *p; ++p) {
        if ((*p < '0' || *p > '9') && *p != '.') return false;
    }
    if (static_cast<pid_t>(pid) == ::getpid()) return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// A save killed mid-write leaves its temporary file behind; the next
// successful replacement of the same target removes those of dead processes.
void remove_stale_temps(const char *path) noexcept {
    const char *slash = std::strrchr(path, '/');
    const char *base = slash ? slash + 1 : path;
    char dir[temp_name_size];
    if (!slash) {
        std::snprintf(dir, sizeof dir, ".");
    } else {
        std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash == path ? 1 : slash - path), path);
    }
    char prefix[temp_name_size];
    int n = std::snprintf(prefix, sizeof prefix, "%s.tmp.", base);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof prefix) return;
    DIR *d = ::opendir(dir);
    if (!d) return;
    while (dirent *e = ::readdir(d)) {
        if (std::strncmp(e->d_name, prefix, static_cast<std::size_t>(n)) != 0) continue;
        if (!names_dead_process(e->d_name + n)) continue;
        char stale[2 * temp_name_size];
        std::snprintf(stale, sizeof stale, "%s/%s", dir, e->d_name);
        ::unlink(stale);
    }
    ::closedir(d);
}

// Creates the temporary file beside `path` exclusively and never through a
// link, so that nothing planted at its name can be overwritten; a clash
// retries under a further name. Its name goes to temp. -1 on failure.
int create_temp(const char *path, char (&temp)[temp_name_size]) noexcept {
    auto pid = static_cast<unsigned>(::getpid());
    auto stamp = static_cast<unsigned long>(ac_now_millis() & 0xFFFFFFFFu);
    for (unsigned attempt = 0; attempt < max_temp_attempts; ++attempt) {
        int n = attempt == 0 ? std::snprintf(temp, sizeof temp, "%s.tmp.%u.%lu", path, pid, stamp)
                             : std::snprintf(temp, sizeof temp, "%s.tmp.%u.%lu.%u", path, pid, stamp, attempt);
        // A cut name could be the target itself or another file beside it.
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof temp) return -1;
        int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::uint64_t ac_now_millis() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::int64_t ac_now_secs() noexcept {
    return static_cast<std::int64_t>(std::time(nullptr));
}

namespace {

// Opens path for reading, refusing anything but a regular file without
// blocking (a FIFO with no writer would block a plain open forever); -1 then.
int open_regular(const char *path, std::uint64_t *size) noexcept {
    if (!path || !*path) return -1;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) >= SIZE_MAX) {
        ::close(fd);
        return -1;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    *size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

}  // namespace

std::FILE *ac_open_regular_file(const char *path, std::uint64_t *size) noexcept {
    int fd = open_regular(path, size);
    if (fd < 0) return nullptr;
    std::FILE *f = ::fdopen(fd, "rb");
    if (!f) ::close(fd);
    return f;
}

char *ac_read_file(const char *path, std::uint64_t *size_out, bool *no_memory) noexcept {
    if (no_memory) *no_memory = false;
    std::uint64_t file_size = 0;
    int fd = open_regular(path, &file_size);
    if (fd < 0) return nullptr;
    std::size_t size = static_cast<std::size_t>(file_size);
    char *buf = static_cast<char *>(ac_malloc(size + 1));
    if (!buf) {
        if (no_memory) *no_memory = true;
        ::close(fd);
        return nullptr;
    }
    std::size_t got = 0;
    while (got < size) {
        ssize_t r = ::read(fd, buf + got, size - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && got == 0) {  // unreadable, e.g. EISDIR through a special file
            ac_free(buf);
            ::close(fd);
            return nullptr;
        }
        if (r <= 0) break;  // a read that stops early keeps what arrived
        got += static_cast<std::size_t>(r);
    }
    ::close(fd);
    buf[got] = '\0';
    if (size_out) *size_out = got;
    return buf;
}

std::uint64_t ac_entropy() noexcept {
    std::uint64_t value = 0;
    return ::getentropy(&value, sizeof value) == 0 ? value : 0;
}

namespace {

struct PemText {
    const char *text;
    std::size_t len;
};
PemText s_more_cas{nullptr, 0};

// libcurl's OpenSSL context, with the system's authorities loaded: the
// certificates go in beside them. One that is already there is no error.
CURLcode add_cas(CURL *, void *ssl_ctx, void *data) noexcept {
    const auto *pem = static_cast<const PemText *>(data);
    BIO *bio = BIO_new_mem_buf(pem->text, static_cast<int>(pem->len));
    if (!bio) return CURLE_OUT_OF_MEMORY;
    X509_STORE *store = SSL_CTX_get_cert_store(static_cast<SSL_CTX *>(ssl_ctx));
    int added = 0;
    for (X509 *cert; (cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) != nullptr; X509_free(cert)) {
        X509_STORE_add_cert(store, cert);
        ++added;
    }
    ERR_clear_error();
    BIO_free(bio);
    return added > 0 ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
}

}  // namespace

bool ac_tls_trust_more(void *curl_handle, const char *pem, std::size_t len) noexcept {
    if (len > 0x7fffffff) return false;
    s_more_cas = PemText{pem, len};
    CURL *h = static_cast<CURL *>(curl_handle);
    return curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &s_more_cas) == CURLE_OK &&
           curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, add_cas) == CURLE_OK;
}

bool ac_sha256(const void *data, std::size_t len, unsigned char (&digest)[32]) noexcept {
    unsigned int n = 0;
    return EVP_Digest(data, len, digest, &n, EVP_sha256(), nullptr) == 1 && n == sizeof digest;
}

int ac_write_file_atomic(const char *path, const void *data, std::uint64_t size) noexcept {
    if (!path || !*path) return 0;
    if (!data && size != 0) return 0;
    char temp[temp_name_size];
    int fd = create_temp(path, temp);
    if (fd < 0) return 0;
    // The replacement keeps the mode of the file it replaces: history.json
    // may hold tokens in its URLs and be readable by its owner alone.
    struct stat old{};
    bool ok = true;
    if (::stat(path, &old) == 0 && S_ISREG(old.st_mode)) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && write_all(fd, static_cast<const char *>(data), size);
    // Without fsync a crash after the rename can leave an empty file in place.
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp, path) == 0;
    if (!ok) {
        ::unlink(temp);
        return 0;
    }
    sync_parent_dir(path);
    remove_stale_temps(path);
    return 1;
}

void ac_make_dir(const char *path) noexcept {
    if (path && *path) ::mkdir(path, 0777);
}

char *ac_real_path(const char *path, bool *is_dir) noexcept {
    char *resolved = ::realpath(path, nullptr);
    if (!resolved) return nullptr;
    struct stat st {};
    bool found = ::stat(resolved, &st) == 0;
    std::size_t len = std::strlen(resolved);
    char *out = found ? static_cast<char *>(ac_malloc(len + 1)) : nullptr;
    if (out) std::memcpy(out, resolved, len + 1);
    std::free(resolved);  // realpath's own allocation
    if (is_dir) *is_dir = found && S_ISDIR(st.st_mode);
    return out;
}

bool ac_path_inside(const char *dir, const char *path) noexcept {
    std::size_t n = std::strlen(dir);
    if (n > 0 && dir[n - 1] == '/') --n;  // the root directory
    return std::strncmp(dir, path, n) == 0 && path[n] == '/';
}
