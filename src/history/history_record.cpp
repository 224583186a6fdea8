#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "apiclient/response.h"
#include "util/alloc.h"
#include "history/history_table.h"
#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "util/dynbuf.h"
#include "util/util.h"

namespace {

constexpr std::size_t method_size = 32;
constexpr std::size_t url_size = 1024;

// Holds the text of the last listing; only grows, released by cleanup.
ResultBuf s_history_list_buf;

// The entry's strings are referenced, not copied: the document must be
// written before the history changes.
bool add_record(yyjson_mut_doc *doc, yyjson_mut_val *arr, const HistoryEntry &e) noexcept {
    yyjson_mut_val *obj = yyjson_mut_arr_add_obj(doc, arr);
    return obj && yyjson_mut_obj_add_str(doc, obj, "method", e.method ? e.method : "GET") &&
           yyjson_mut_obj_add_str(doc, obj, "url", e.url ? e.url : "") &&
           yyjson_mut_obj_add_sint(doc, obj, "status", e.status) && yyjson_mut_obj_add_uint(doc, obj, "ts", e.ts);
}

// JSON text of the newest n records, released with ac_free(); NULL on failure.
char *write_records(int n, yyjson_write_flag flags, std::size_t *len) noexcept {
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    if (!doc) return nullptr;
    yyjson_mut_val *arr = yyjson_mut_arr(doc.get());
    if (!arr) return nullptr;
    yyjson_mut_doc_set_root(doc.get(), arr);
    for (int i = 0; i < n; ++i) {
        if (!add_record(doc.get(), arr, history_entry(i))) return nullptr;
    }
    return yyjson_mut_write_opts(doc.get(), flags, ac_alc(), len, nullptr);
}

// A failed write keeps the previous file whole; the entry stays in memory.
void rewrite_file() noexcept {
    char path[history_path_size];
    if (!history_file_writable() || !history_file_path(path)) return;
    std::size_t len = 0;
    unique_cstr text(write_records(api_history_count(), YYJSON_WRITE_PRETTY, &len));
    if (text) ac_write_file_atomic(path, text.get(), len);
}

int out_of_memory() noexcept {
    ac_set_error("api_history_add: out of memory");
    return 0;
}

}  // namespace

void history_release_list_buffer() noexcept { s_history_list_buf.release(); }

extern "C" int api_history_add(const char *entry_json) noexcept {
    char method[method_size] = "GET";
    char url[url_size] = "";
    std::int32_t status = g_response_status;
    auto ts = static_cast<std::uint64_t>(ac_now_secs());
    if (entry_json && *entry_json) {
        yyjson_read_err err{};
        unique_doc doc(ac_json_read(entry_json, std::strlen(entry_json), &err));
        if (!doc && ac_json_no_memory(err)) return out_of_memory();
        yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
        if (yyjson_is_obj(root)) {
            // Cuts keep whole UTF-8 characters, or the file could not be written again.
            ac_copy_text_utf8(method, sizeof method, ac_json_str(root, "method", "GET"));
            ac_copy_text_utf8(url, sizeof url, ac_json_str(root, "url", ""));
            yyjson_val *s = yyjson_obj_get(root, "status");
            if (yyjson_is_int(s)) status = static_cast<std::int32_t>(static_cast<std::uint32_t>(yyjson_get_uint(s)));
            yyjson_val *t = yyjson_obj_get(root, "ts");
            if (yyjson_is_int(t)) ts = yyjson_get_uint(t);
        }
    }
    // Recording returns 1 whatever becomes of the file; only an entry that
    // cannot be made at all is a failure.
    if (!history_push_front(method, url, status, ts)) return out_of_memory();
    rewrite_file();
    return 1;
}

extern "C" const char *api_history_list_json(int limit) noexcept {
    int count = api_history_count();
    int n = (limit <= 0 || limit > count) ? count : limit;
    std::size_t len = 0;
    unique_cstr text(write_records(n, 0, &len));
    if (!text) return "[]";
    return s_history_list_buf.set(text.get(), len, "[]");
}
