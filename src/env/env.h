// Environment variables and {{name}} expansion.
#pragma once

#include <cstddef>

// The store's size.
constexpr int max_env_variables = 1000;

// Empties the store (both run from api_init and api_cleanup; cleanup also
// releases the listing buffer).
void ac_env_init() noexcept;
void ac_env_cleanup() noexcept;

// No expansion may grow past this: a few bytes of placeholders whose values
// hold placeholders again would otherwise take all the host's memory.
constexpr std::size_t expand_limit = std::size_t{64} << 20;

enum class ExpandError { none, no_memory, too_large };

enum class EnvSet { ok, refused, no_memory };

// api_env_set, telling a refusal (empty key, full store) from running out of
// memory; the message is api_env_set's.
EnvSet ac_env_set(const char *key, const char *value) noexcept;

// True when the variable is set, even to "".
bool ac_env_has(const char *key) noexcept;

// Variables to set where the environment has none, copied ahead so that
// setting them cannot fail: an operation that sets them after a step that
// may fail (the full import, after replacing the collection) stays all or
// nothing. Of equal keys the last counts, as the format's runner takes them.
class EnvBatch {
public:
    EnvBatch() = default;
    ~EnvBatch();
    EnvBatch(const EnvBatch &) = delete;
    EnvBatch &operator=(const EnvBatch &) = delete;

    // False when memory runs out.
    bool add(const char *key, const char *value) noexcept;
    std::size_t size() const noexcept { return count_; }
    const char *key(std::size_t i) const noexcept { return entries_[i].key; }
    // Decides, against the environment as it is now, which entries apply()
    // sets: those whose key is not set yet, while the store has room.
    void plan() noexcept;
    bool will_set(std::size_t i) const noexcept { return set_[i]; }
    // Not set for want of room (rather than because the key is set).
    bool no_room(std::size_t i) const noexcept { return full_[i]; }
    // Sets the planned entries; the environment must not have changed since
    // plan(). Returns how many were set.
    int apply() noexcept;

private:
    struct Entry {
        char *key;
        char *value;
    };
    bool grow() noexcept;

    Entry *entries_ = nullptr;
    bool *set_ = nullptr;
    bool *full_ = nullptr;
    std::size_t count_ = 0;
    std::size_t cap_ = 0;
};

// Expands {{name}} placeholders from the environment in one left-to-right pass
// (repeated while anything changes, with the nested_variables option). Returns
// a new heap text (release with ac_free()), or NULL with *error set when memory
// runs out or the result would pass expand_limit. A NULL text gives "".
char *ac_env_substitute(const char *text, ExpandError *error = nullptr) noexcept;

// Expands the placeholders of a URL as the format's runner does: each value
// (itself expanded first with the nested_variables option) is percent-encoded
// for the part of the URL it lands in, and the fragment is cut. NULL with
// *error set as for ac_env_substitute.
char *ac_env_substitute_url(const char *text, ExpandError *error = nullptr) noexcept;

// "out of memory" or "expanded text too large", for the caller's message.
const char *ac_expand_error_message(ExpandError error) noexcept;
