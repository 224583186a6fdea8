// The collection of saved requests.
#pragma once

// Empties the collection; the get_json result buffer stays.
void ac_collection_init() noexcept;
// Empties the collection and releases the result buffer.
void ac_collection_cleanup() noexcept;
