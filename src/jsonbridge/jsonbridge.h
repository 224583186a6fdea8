// Selection of one value out of the last response body.
#pragma once

#include <cstddef>

// Releases the result buffer and the parsed body (api_cleanup); later
// queries work as before.
void ac_json_query_cleanup() noexcept;
// Drops the parsed body: the response it came from is being replaced.
void ac_json_query_forget() noexcept;

// Room for a converted pointer: at most 510 characters and a NUL.
constexpr std::size_t json_pointer_size = 512;

// Turns a dotted path (".a.b[0]", given from its first ".") into a JSON
// Pointer: "." and "[" become "/", "]" is dropped, everything else is copied.
// Stops after 510 characters or at an unclosed "[". Returns the length.
std::size_t ac_dotted_to_pointer(const char *dotted, char out[json_pointer_size]) noexcept;
