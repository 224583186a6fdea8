// The history's table and file, shared by loading and recording; nothing
// outside the history module uses this header.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int max_history_entries = 500;
// Storage directory (at most 1023 bytes), a separator and "history.json" always fit.
constexpr std::size_t history_path_size = 1056;

// One recorded request. method and url are owned heap texts, null only after
// a failed allocation; writers put "GET" and "" in their place.
struct HistoryEntry {
    char *method;
    char *url;
    std::int32_t status;
    std::uint64_t ts;  // seconds since the Unix epoch, written unsigned
};

// Entry i, 0 being the newest; i must be below api_history_count().
const HistoryEntry &history_entry(int i) noexcept;

// Makes a new newest entry from copies of the texts, dropping the oldest
// when the table is full. False, with the table unchanged, when memory runs out.
bool history_push_front(const char *method, const char *url, std::int32_t status, std::uint64_t ts) noexcept;

// False while history.json holds entries that could not be loaded.
bool history_file_writable() noexcept;

// Path of history.json in the storage directory; false when there is none.
bool history_file_path(char (&path)[history_path_size]) noexcept;

// Releases the listing buffer kept between api_history_list_json calls.
void history_release_list_buffer() noexcept;
