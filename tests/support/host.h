// The machine the tests run on, the same on POSIX and Windows.
#pragma once

#include <string>

// Sets an environment variable of this process; a null value removes it.
void set_env(const std::string &name, const char *value);

// True when the program runs under wine rather than on Windows itself.
bool under_wine();
