// Environment variables and {{name}} expansion.
#pragma once

// Empties the store (both run from api_init and api_cleanup; cleanup also
// releases the listing buffer).
void ac_env_init() noexcept;
void ac_env_cleanup() noexcept;

// Expands {{name}} placeholders from the environment in one left-to-right pass.
// Returns a new heap text (release with free()); NULL only when even a plain
// copy cannot be allocated. A NULL text gives "".
char *ac_env_substitute(const char *text) noexcept;
