#include "support.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <curl/curl.h>

#include "quorvane_apiclient.h"

namespace {

std::string s_temp_dir;

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return std::remove(path); }

void remove_temp_dir() {
    if (!s_temp_dir.empty()) nftw(s_temp_dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

bool writable_dir(const char *path) {
    struct stat st {};
    return path && *path && stat(path, &st) == 0 && S_ISDIR(st.st_mode) && access(path, W_OK | X_OK) == 0;
}

}  // namespace

void fuzz_fail(const char *file, int line, const char *condition, const std::string &detail) {
    std::fprintf(stderr, "\n== invariant broken at %s:%d: %s\n%s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

void fuzz_reset(const char *storage_dir) {
    // One reference held for the whole process keeps libcurl's global
    // state alive, so api_init and api_cleanup do not rebuild it per input.
    static const bool curl_ready = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
    FUZZ_CHECK(curl_ready, "curl_global_init failed");
    api_cleanup();
    FUZZ_CHECK(api_init(storage_dir) == 1, api_last_error());
}

const std::string &fuzz_temp_dir() {
    if (s_temp_dir.empty()) {
        const char *base = writable_dir("/dev/shm") ? "/dev/shm" : std::getenv("TMPDIR");
        if (!writable_dir(base)) base = "/tmp";
        std::string pattern = std::string(base) + "/qv-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr,
                   "cannot create a temporary directory under " + std::string(base));
        s_temp_dir = pattern;
        std::atexit(remove_temp_dir);
    }
    return s_temp_dir;
}

std::string fuzz_temp_path(const char *name) { return fuzz_temp_dir() + "/" + name; }

void fuzz_write_file(const std::string &path, const void *data, std::size_t size) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr, "cannot write " + path);
    bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    FUZZ_CHECK(std::fclose(f) == 0 && written, "cannot write " + path);
}

std::string fuzz_read_file(const std::string &path) {
    std::string out;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

std::vector<std::string_view> fuzz_split(const std::uint8_t *data, std::size_t size, std::size_t max_pieces) {
    std::vector<std::string_view> pieces;
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    while (pieces.size() + 1 < max_pieces) {
        std::size_t nul = rest.find('\0');
        if (nul == std::string_view::npos) break;
        pieces.push_back(rest.substr(0, nul));
        rest.remove_prefix(nul + 1);
    }
    pieces.push_back(rest);
    return pieces;
}

FuzzDoc fuzz_parse(std::string_view text) {
    return FuzzDoc(yyjson_read_opts(const_cast<char *>(text.data()), text.size(), 0, nullptr, nullptr));
}

std::string fuzz_json(yyjson_val *v) {
    if (!v) return "";
    std::size_t len = 0;
    char *text = yyjson_val_write_opts(v, 0, nullptr, &len, nullptr);
    std::string out = text ? std::string(text, len) : "";
    std::free(text);
    return out;
}

std::string fuzz_cstr(yyjson_val *str) { return yyjson_is_str(str) ? std::string(yyjson_get_str(str)) : ""; }

std::string fuzz_cstr_member(yyjson_val *obj, const char *key, const char *fallback) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_str(v) ? fuzz_cstr(v) : fallback;
}

std::vector<std::string> fuzz_collection_items() {
    std::vector<std::string> items;
    for (int i = 0; i < api_collection_count(); ++i) items.emplace_back(api_collection_get_json(i));
    return items;
}

std::string fuzz_listing(const std::vector<std::string> &items) {
    std::string out;
    for (const std::string &item : items) out += item + "\n";
    return out;
}

void fuzz_add_kept_item() { FUZZ_CHECK(api_collection_add("old", R"({"name":"kept"})") == 1, api_last_error()); }

bool fuzz_only_kept_item() {
    return fuzz_collection_items() ==
           std::vector<std::string>{
               R"({"folder":"old","name":"kept","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"};
}
