# Cross build for 64-bit Windows with Debian's mingw-w64, tests run under wine:
#   cmake -S . -B build-win -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DQV_WIN_DEPS="$(scripts/win-deps | tail -n 1)"
# QV_WIN_DEPS is the prefix scripts/win-deps prints (libcurl, yyjson, GoogleTest);
# the environment variable of the same name works too. QV_WINEPREFIX is the
# wine prefix of the tests (default /var/cache/quorvane/wine); scripts/test-windows
# does all of this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: the win32 one has no std::thread or std::mutex in GCC 12.
set(QV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_MINGW_TRIPLE}-windres)

if(NOT QV_WIN_DEPS AND DEFINED ENV{QV_WIN_DEPS})
  set(QV_WIN_DEPS "$ENV{QV_WIN_DEPS}")
endif()
set(QV_WIN_DEPS "${QV_WIN_DEPS}" CACHE PATH "Windows dependency prefix printed by scripts/win-deps")
if(QV_WIN_DEPS AND NOT IS_DIRECTORY "${QV_WIN_DEPS}")
  message(FATAL_ERROR "QV_WIN_DEPS=${QV_WIN_DEPS} is not a directory (run scripts/win-deps)")
endif()
# try_compile projects read this file again without our cache.
set(ENV{QV_WIN_DEPS} "${QV_WIN_DEPS}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QV_WIN_DEPS)

# Libraries, headers and packages come from the prefix and the mingw sysroot,
# never from the Linux host; programs (wine, pkg-config) from the host.
set(QV_MINGW_SYSROOT /usr/${QV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${QV_WIN_DEPS} ${QV_MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Host pkg-config would otherwise answer with the Linux .pc files.
set(QV_PC_DIRS ${QV_MINGW_SYSROOT}/lib/pkgconfig)
if(QV_WIN_DEPS)
  list(PREPEND QV_PC_DIRS ${QV_WIN_DEPS}/lib/pkgconfig)
endif()
string(REPLACE ";" ":" QV_PC_DIRS "${QV_PC_DIRS}")
set(ENV{PKG_CONFIG_LIBDIR} "${QV_PC_DIRS}")
unset(ENV{PKG_CONFIG_PATH})

# Link the compiler runtime (libgcc, libstdc++, winpthread) statically, so that
# the DLL and the test programs import only Windows system DLLs and run under
# wine without a path to the cross compiler's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs (and CTest's listing of their tests) run under wine64, which
# Debian 12 keeps out of PATH, in a wine prefix of their own outside the tree,
# without wine's debug output and without its offers to install Mono or Gecko.
find_program(QV_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NOT QV_WINEPREFIX)
  set(QV_WINEPREFIX /var/cache/quorvane/wine)
endif()
set(QV_WINEPREFIX "${QV_WINEPREFIX}" CACHE PATH "wine prefix the tests run in")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QV_WINEPREFIX)
if(QV_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEPREFIX=${QV_WINEPREFIX} WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" ${QV_WINE64})
endif()
