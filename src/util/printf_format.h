// The format archetype of the library's printf-style functions. Under mingw
// the library uses the C99 printf family (__USE_MINGW_ANSI_STDIO, set by the
// build), so formats are checked as GNU ones, %zu and %lld included.
#pragma once

#include <cstdio>

#if defined(__MINGW32__)
#define AC_PRINTF_FORMAT(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#else
#define AC_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif
