#include "apiclient/request_body.h"

#include <cstring>

#if defined(_WIN32)
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "apiclient/apiclient.h"
#include "env/env.h"
#include "util/util.h"

namespace {

bool out_of_memory() noexcept {
    ac_set_error("api_request: out of memory");
    return false;
}

bool cannot_read(const char *path) noexcept {
    ac_set_error("api_request: cannot read body file '%s'", path);
    return false;
}

// Opens a regular file for reading and gives its size; null for anything
// else. A FIFO, device or socket is refused at once rather than blocking.
std::FILE *open_regular(const char *path, curl_off_t *size) noexcept {
#if defined(_WIN32)
    std::FILE *f = std::fopen(path, "rb");
    struct _stat64 st {};
    if (f && (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)) {
        std::fclose(f);
        return nullptr;
    }
    if (f) *size = static_cast<curl_off_t>(st.st_size);
    return f;
#else
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    std::FILE *f = nullptr;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        f = ::fdopen(fd, "rb");
    }
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    *size = static_cast<curl_off_t>(st.st_size);
    return f;
#endif
}

std::size_t read_file_cb(char *buf, std::size_t size, std::size_t nitems, void *userdata) noexcept {
    auto *f = static_cast<std::FILE *>(userdata);
    std::size_t n = std::fread(buf, 1, size * nitems, f);
    return n == 0 && std::ferror(f) ? CURL_READFUNC_ABORT : n;
}

// libcurl rewinds the body to send it again (a 307 redirect, an auth retry).
int seek_file_cb(void *userdata, curl_off_t offset, int origin) noexcept {
    if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
    return std::fseek(static_cast<std::FILE *>(userdata), 0, SEEK_SET) == 0 ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

// A string member of a part with its placeholders expanded; null only when
// memory runs out. A missing member or one of another type gives "".
unique_cstr part_text(yyjson_val *part, const char *key) noexcept {
    return unique_cstr(ac_env_substitute(ac_json_str(part, key, "")));
}

// Fills one mime part from its JSON object. False with the message set.
bool fill_part(curl_mimepart *mp, yyjson_val *part) noexcept {
    unique_cstr name(part_text(part, "name"));
    unique_cstr type(part_text(part, "content_type"));
    if (!name || !type) return out_of_memory();
    if (curl_mime_name(mp, name.get()) != CURLE_OK) return out_of_memory();
    if (*type && curl_mime_type(mp, type.get()) != CURLE_OK) return out_of_memory();
    if (!yyjson_is_str(yyjson_obj_get(part, "file"))) {
        unique_cstr value(part_text(part, "value"));
        if (!value || curl_mime_data(mp, value.get(), CURL_ZERO_TERMINATED) != CURLE_OK) return out_of_memory();
        return true;
    }
    unique_cstr path(part_text(part, "file"));
    unique_cstr filename(part_text(part, "filename"));
    if (!path || !filename) return out_of_memory();
    // libcurl opens the file only once the transfer runs: check it now, so
    // that a missing file stops the request before anything is sent.
    curl_off_t size = 0;
    std::FILE *probe = open_regular(path.get(), &size);
    if (!probe) return cannot_read(path.get());
    std::fclose(probe);
    // The file name defaults to the path's base name, the type to libcurl's choice.
    CURLcode rc = curl_mime_filedata(mp, path.get());
    if (rc == CURLE_OUT_OF_MEMORY) return out_of_memory();
    if (rc != CURLE_OK) return cannot_read(path.get());
    if (*filename && curl_mime_filename(mp, filename.get()) != CURLE_OK) return out_of_memory();
    return true;
}

}  // namespace

BodyKind ac_body_kind(const char *body_type) noexcept {
    if (ac_ascii_ieq(body_type, "multipart")) return BodyKind::multipart;
    if (ac_ascii_ieq(body_type, "file")) return BodyKind::file;
    return BodyKind::text;
}

StreamBody::~StreamBody() {
    curl_mime_free(mime_);
    if (file_) std::fclose(file_);
}

bool StreamBody::multipart(CURL *h, const char *parts_json) noexcept {
    yyjson_read_err err{};
    unique_doc doc(ac_json_read(parts_json, std::strlen(parts_json), &err));
    if (!doc && err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION) return out_of_memory();
    yyjson_val *parts = yyjson_doc_get_root(doc.get());
    bool well_formed = yyjson_is_arr(parts);
    yyjson_val *part = nullptr;
    yyjson_arr_iter it{};
    for (yyjson_arr_iter_init(parts, &it); well_formed && (part = yyjson_arr_iter_next(&it));) {
        well_formed = yyjson_is_obj(part);
    }
    if (!well_formed) {
        ac_set_error("api_request: multipart body must be a JSON array of parts");
        return false;
    }
    mime_ = curl_mime_init(h);
    if (!mime_) return out_of_memory();
    for (yyjson_arr_iter_init(parts, &it); (part = yyjson_arr_iter_next(&it));) {
        curl_mimepart *mp = curl_mime_addpart(mime_);
        if (!mp) return out_of_memory();
        if (!fill_part(mp, part)) return false;
    }
    return true;
}

bool StreamBody::file(const char *path) noexcept {
    file_ = open_regular(path, &file_size_);
    return file_ ? true : cannot_read(path);
}

void StreamBody::attach(CURL *h) noexcept {
    if (mime_) {
        curl_easy_setopt(h, CURLOPT_MIMEPOST, mime_);
        return;
    }
    // Streamed in libcurl's own buffer: any size in constant memory.
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, read_file_cb);
    curl_easy_setopt(h, CURLOPT_READDATA, file_);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, seek_file_cb);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, file_);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, file_size_);
}
