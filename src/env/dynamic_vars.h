// Values of the {{$name}} placeholders that api_request fills when the
// dynamic_variables option is on and the environment does not set the name.
#pragma once

#include <cstddef>

// Longest value any generator writes, with its NUL.
constexpr std::size_t dynamic_value_size = 64;

// Writes a fresh value for `name` (without its "$") into out; false, leaving
// out untouched, for a name that has no generator.
bool ac_dynamic_value(const char *name, char (&out)[dynamic_value_size]) noexcept;
