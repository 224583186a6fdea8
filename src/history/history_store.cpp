#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "history/history.h"
#include "history/history_table.h"
#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

// Slot 0 is the newest entry; slots past the count are all-null.
HistoryEntry s_history[max_history_entries];
int s_history_count = 0;
// Set when history.json could not be loaded for lack of memory: the file
// then holds entries the table lacks, so it is never rewritten from it.
bool s_file_unloaded = false;

void release_entries() noexcept {
    for (int i = 0; i < s_history_count; ++i) {
        ac_free(s_history[i].method);
        ac_free(s_history[i].url);
        s_history[i] = HistoryEntry{};
    }
    s_history_count = 0;
}

// Any element becomes a record; what it lacks takes the defaults. False,
// with nothing allocated, when memory runs out.
bool entry_from_json(yyjson_val *v, std::uint64_t now, HistoryEntry &e) noexcept {
    e = HistoryEntry{};
    e.method = ac_strdup(ac_json_str(v, "method", "GET"));
    e.url = ac_strdup(ac_json_str(v, "url", ""));
    if (!e.method || !e.url) {
        ac_free(e.method);
        ac_free(e.url);
        e = HistoryEntry{};
        return false;
    }
    yyjson_val *status = yyjson_obj_get(v, "status");
    // Signed or unsigned, only the low 32 bits are kept.
    if (yyjson_is_int(status)) e.status = static_cast<std::int32_t>(static_cast<std::uint32_t>(yyjson_get_uint(status)));
    yyjson_val *ts = yyjson_obj_get(v, "ts");
    e.ts = yyjson_is_int(ts) ? yyjson_get_uint(ts) : now;
    return true;
}

}  // namespace

const HistoryEntry &history_entry(int i) noexcept { return s_history[i]; }

bool history_push_front(const char *method, const char *url, std::int32_t status, std::uint64_t ts) noexcept {
    HistoryEntry fresh{ac_strdup(method), ac_strdup(url), status, ts};
    if (!fresh.method || !fresh.url) {
        ac_free(fresh.method);
        ac_free(fresh.url);
        return false;
    }
    if (s_history_count == max_history_entries) {
        HistoryEntry &oldest = s_history[max_history_entries - 1];
        ac_free(oldest.method);
        ac_free(oldest.url);
        --s_history_count;
    }
    std::memmove(&s_history[1], &s_history[0], static_cast<std::size_t>(s_history_count) * sizeof(HistoryEntry));
    s_history[0] = fresh;
    ++s_history_count;
    return true;
}

bool history_file_writable() noexcept { return !s_file_unloaded; }

bool history_file_path(char (&path)[history_path_size]) noexcept {
    if (!g_storage_dir[0]) return false;
    std::snprintf(path, sizeof path, "%s%chistory.json", g_storage_dir, ac_dir_separator);
    return true;
}

// Whatever cannot be read leaves the history empty without a message; only
// running out of memory fails, and then the file is left alone until a
// later load succeeds.
bool ac_history_init() noexcept {
    release_entries();
    s_file_unloaded = false;
    char path[history_path_size];
    if (!history_file_path(path)) return true;
    JsonFile status = JsonFile::ok;
    unique_doc doc(ac_json_read_file(path, &status));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    bool ok = status != JsonFile::no_memory;
    auto now = static_cast<std::uint64_t>(ac_now_secs());
    std::size_t idx, max;
    yyjson_val *element;
    // The file is newest first, so the records past the limit are the oldest.
    yyjson_arr_foreach(root, idx, max, element) {
        if (!ok || s_history_count >= max_history_entries) break;
        ok = entry_from_json(element, now, s_history[s_history_count]);
        if (ok) ++s_history_count;
    }
    if (ok) return true;
    release_entries();
    s_file_unloaded = true;
    return false;
}

void ac_history_cleanup() noexcept {
    release_entries();
    history_release_list_buffer();
}

extern "C" int api_history_count(void) noexcept { return s_history_count; }
