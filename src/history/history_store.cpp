#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "history/history.h"
#include "history/history_table.h"
#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

HistoryEntry s_history[max_history_entries];
int s_history_count = 0;

namespace {

void release_entries() noexcept {
    for (int i = 0; i < s_history_count; ++i) {
        std::free(s_history[i].method);
        std::free(s_history[i].url);
        s_history[i] = HistoryEntry{};
    }
    s_history_count = 0;
}

// Any element becomes a record; what it lacks takes the defaults.
HistoryEntry entry_from_json(yyjson_val *v, std::uint64_t now) noexcept {
    HistoryEntry e{};
    e.method = ac_strdup(ac_json_str(v, "method", "GET"));
    e.url = ac_strdup(ac_json_str(v, "url", ""));
    yyjson_val *status = yyjson_obj_get(v, "status");
    // Signed or unsigned, only the low 32 bits are kept.
    if (yyjson_is_int(status)) e.status = static_cast<std::int32_t>(static_cast<std::uint32_t>(yyjson_get_uint(status)));
    yyjson_val *ts = yyjson_obj_get(v, "ts");
    e.ts = yyjson_is_int(ts) ? yyjson_get_uint(ts) : now;
    return e;
}

}  // namespace

bool history_file_path(char (&path)[history_path_size]) noexcept {
    if (!g_storage_dir[0]) return false;
    std::snprintf(path, sizeof path, "%s/history.json", g_storage_dir);
    return true;
}

// Loading never fails and never writes a message: whatever cannot be read
// leaves the history empty.
void ac_history_init() noexcept {
    release_entries();
    char path[history_path_size];
    if (!history_file_path(path)) return;
    bool unreadable = false;
    unique_doc doc(ac_json_read_file(path, &unreadable));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (!yyjson_is_arr(root)) return;
    auto now = static_cast<std::uint64_t>(ac_now_secs());
    std::size_t idx, max;
    yyjson_val *element;
    // The file is newest first, so the records past the limit are the oldest.
    yyjson_arr_foreach(root, idx, max, element) {
        if (s_history_count >= max_history_entries) break;
        s_history[s_history_count++] = entry_from_json(element, now);
    }
}

void ac_history_cleanup() noexcept {
    release_entries();
    history_release_list_buffer();
}

extern "C" int api_history_count(void) noexcept { return s_history_count; }
