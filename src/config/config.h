// Library-wide options set by api_configure. Every option defaults to the
// library's behaviour without it, so a host that never configures sees none.
#pragma once

struct LibraryOptions {
    // Expand {{name}} in the string members of a request's "auth".
    bool expand_auth = false;
    // Fill {{$name}} placeholders the environment does not set with fresh values.
    bool dynamic_variables = false;
    // Expand a text again while values bring placeholders of their own.
    bool nested_variables = false;
};

// The options in force.
const LibraryOptions &ac_options() noexcept;

// Back to the defaults (api_cleanup).
void ac_options_reset() noexcept;
