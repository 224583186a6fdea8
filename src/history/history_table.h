// The history's table and file, shared by loading and recording; nothing
// outside the history module uses this header.
#pragma once

#include <cstddef>
#include <cstdint>

#include <yyjson.h>

constexpr int max_history_entries = 500;
// Storage directory (at most 1023 bytes), "/" and "history.json" always fit.
constexpr std::size_t history_path_size = 1056;

// One recorded request. method and url are owned heap texts, null only after
// a failed allocation; writers put "GET" and "" in their place.
struct HistoryEntry {
    char *method;
    char *url;
    std::int32_t status;
    std::uint64_t ts;  // seconds since the Unix epoch, written unsigned
};

// Slot 0 is the newest entry; slots past the count are all-null.
extern HistoryEntry s_history[max_history_entries];
extern int s_history_count;

// Path of history.json in the storage directory; false when there is none.
bool history_file_path(char (&path)[history_path_size]) noexcept;

// Releases the listing buffer kept between api_history_list_json calls.
void history_release_list_buffer() noexcept;
