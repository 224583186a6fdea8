#include "apiclient/request_body.h"

#include <cstring>

#include "apiclient/apiclient.h"
#include "apiclient/request_auth.h"
#include "config/config.h"
#include "env/env.h"
#include "platform/platform.h"
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

const char *base_name(const char *path) noexcept {
    const char *base = path;
    for (const char *p = path; *p; ++p) {
#ifdef _WIN32
        if (*p == '\\') base = p + 1;
#endif
        if (*p == '/') base = p + 1;
    }
    return base;
}

// With "body_files_dir" set, the real path of a body file inside it (what is
// then opened, so that a link cannot lead elsewhere), else the path as given.
// Null with the message set: newman's words, `part` naming the form field.
unique_cstr allowed_path(const char *path, const char *part) noexcept {
    const char *dir = ac_options().body_files_dir;
    if (!*dir) {
        unique_cstr copy(ac_strdup(path));
        if (!copy) out_of_memory();
        return copy;
    }
    bool is_dir = false;
    unique_cstr real(ac_real_path(path, &is_dir));
    if (!real || is_dir) {
        cannot_read(path);
        return nullptr;
    }
    if (ac_path_inside(dir, real.get())) return real;
    const char *why = "PPERM: insecure file access outside working directory";
    if (part) {
        ac_set_error("api_request: Form param `%s`, file load error: %s", part, why);
    } else {
        ac_set_error("api_request: Binary file load error: %s", why);
    }
    return nullptr;
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

// A string member of a part with its placeholders expanded; null, with the
// message set, when that fails. A missing member or one of another type gives "".
unique_cstr part_text(yyjson_val *part, const char *key) noexcept {
    return ac_request_expand(ac_json_str(part, key, ""));
}

// Fills one mime part from its JSON object. False with the message set.
bool fill_part(curl_mimepart *mp, yyjson_val *part) noexcept {
    unique_cstr name(part_text(part, "name"));
    if (!name) return false;
    unique_cstr type(part_text(part, "content_type"));
    if (!type) return false;
    if (curl_mime_name(mp, name.get()) != CURLE_OK) return out_of_memory();
    if (*type && curl_mime_type(mp, type.get()) != CURLE_OK) return out_of_memory();
    if (!yyjson_is_str(yyjson_obj_get(part, "file"))) {
        unique_cstr value(part_text(part, "value"));
        if (!value) return false;
        if (curl_mime_data(mp, value.get(), CURL_ZERO_TERMINATED) != CURLE_OK) return out_of_memory();
        return true;
    }
    unique_cstr given(part_text(part, "file"));
    if (!given) return false;
    unique_cstr filename(part_text(part, "filename"));
    if (!filename) return false;
    unique_cstr path(allowed_path(given.get(), name.get()));
    if (!path) return false;
    // libcurl opens the file only once the transfer runs: check it now, so
    // that a missing file stops the request before anything is sent.
    std::uint64_t size = 0;
    std::FILE *probe = ac_open_regular_file(path.get(), &size);
    if (!probe) return cannot_read(given.get());
    std::fclose(probe);
    // The file name defaults to the path's base name, the type to libcurl's choice.
    CURLcode rc = curl_mime_filedata(mp, path.get());
    if (rc == CURLE_OUT_OF_MEMORY) return out_of_memory();
    if (rc != CURLE_OK) return cannot_read(given.get());
    // The name is the one the host gave, not that of the file a link resolved to.
    const char *shown = *filename ? filename.get() : base_name(given.get());
    if (curl_mime_filename(mp, shown) != CURLE_OK) return out_of_memory();
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

bool StreamBody::file(const char *given) noexcept {
    unique_cstr path(allowed_path(given, nullptr));
    if (!path) return false;
    std::uint64_t size = 0;
    file_ = ac_open_regular_file(path.get(), &size);
    if (!file_) return cannot_read(given);
    file_size_ = static_cast<curl_off_t>(size);
    return true;
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
