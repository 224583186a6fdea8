#include "support/host.h"

#include <cstdlib>

void set_env(const std::string &name, const char *value) {
    if (value) setenv(name.c_str(), value, 1); else unsetenv(name.c_str());
}

bool under_wine() { return false; }
