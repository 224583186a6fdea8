// The recorded-request history and its history.json file.
#pragma once

// Empties the history and reloads it from the storage directory's history.json.
// False when memory ran out: the history is empty and history.json is not
// rewritten until a later load succeeds.
bool ac_history_init() noexcept;
// Empties the history and releases the listing buffer.
void ac_history_cleanup() noexcept;
