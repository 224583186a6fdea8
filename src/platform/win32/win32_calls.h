// The Win32 calls through which the platform layer renames files, reachable
// so that tests can make one of them fail; nothing else changes them.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

struct Win32RenameCalls {
    BOOL(WINAPI *move_file_ex)(LPCSTR from, LPCSTR to, DWORD flags);
    BOOL(WINAPI *move_file)(LPCSTR from, LPCSTR to);
};

extern Win32RenameCalls ac_win32_rename_calls;
