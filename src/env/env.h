// Environment variables and {{name}} expansion.
#pragma once

#include <cstddef>

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
