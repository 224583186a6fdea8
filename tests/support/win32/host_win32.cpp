#include "support/host.h"

#include <cstdlib>

#include <windows.h>

void set_env(const std::string &name, const char *value) { _putenv_s(name.c_str(), value ? value : ""); }

// Wine's ntdll exports a function of its own that Windows' never has.
bool under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
