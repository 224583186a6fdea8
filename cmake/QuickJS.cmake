# QuickJS's engine as a static library (qv_quickjs), built from the Debian
# source package that scripts/setup unpacks: no quickjs-libc.c, so no std or
# os module and no file or process access. Position-independent, with hidden
# symbols, as it is linked into the shared library. The main project and the
# host tool's project (src/script/tool) both include this file.
#
#   QV_SCRIPT_DEPS_CACHE  where scripts/setup caches (default /var/cache/quorvane)
#   QV_QUICKJS_SRC        a QuickJS source tree of that version, for packagers
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/quickjs-version QV_QUICKJS_DEBIAN_VERSION LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/quickjs-version)
if(NOT QV_SCRIPT_DEPS_CACHE)
  if(DEFINED ENV{QV_SCRIPT_DEPS_CACHE})
    set(QV_SCRIPT_DEPS_CACHE "$ENV{QV_SCRIPT_DEPS_CACHE}")
  else()
    set(QV_SCRIPT_DEPS_CACHE /var/cache/quorvane)
  endif()
endif()
set(QV_SCRIPT_DEPS_CACHE "${QV_SCRIPT_DEPS_CACHE}" CACHE PATH "Cache that scripts/setup fills with the script engine's sources")
set(QV_QUICKJS_SRC "" CACHE PATH "QuickJS source tree (empty: the one scripts/setup fetches)")

# The default is worked out anew at every configure, so a new version in
# cmake/quickjs-version is picked up without clearing the cache.
if(QV_QUICKJS_SRC)
  set(QV_QUICKJS_DIR "${QV_QUICKJS_SRC}")
else()
  set(QV_QUICKJS_DIR "${QV_SCRIPT_DEPS_CACHE}/quickjs/${QV_QUICKJS_DEBIAN_VERSION}/src")
endif()
if(NOT EXISTS "${QV_QUICKJS_DIR}/quickjs.c" OR NOT EXISTS "${QV_QUICKJS_DIR}/VERSION")
  message(FATAL_ERROR "No QuickJS source in ${QV_QUICKJS_DIR}: run scripts/setup, "
    "set QV_QUICKJS_SRC to a QuickJS ${QV_QUICKJS_DEBIAN_VERSION} tree, or build with -DQV_SCRIPTS=OFF")
endif()
file(STRINGS "${QV_QUICKJS_DIR}/VERSION" QV_QUICKJS_VERSION LIMIT_COUNT 1)

# The engine files alone; this version has dtoa.c in place of libbf.c.
add_library(qv_quickjs STATIC
  ${QV_QUICKJS_DIR}/quickjs.c ${QV_QUICKJS_DIR}/libregexp.c ${QV_QUICKJS_DIR}/libunicode.c
  ${QV_QUICKJS_DIR}/cutils.c ${QV_QUICKJS_DIR}/dtoa.c)
# SYSTEM: quickjs.h's own warnings stay out of the code that includes it.
target_include_directories(qv_quickjs SYSTEM PUBLIC ${QV_QUICKJS_DIR})
# As QuickJS's Makefile builds it. Third-party code: its warnings are silenced
# here, on this target only.
target_compile_definitions(qv_quickjs PRIVATE _GNU_SOURCE CONFIG_VERSION="${QV_QUICKJS_VERSION}")
target_compile_options(qv_quickjs PRIVATE -w -fwrapv)
set_target_properties(qv_quickjs PROPERTIES POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET hidden)
find_package(Threads REQUIRED)
# Atomics.wait takes pthread mutexes (winpthread with mingw's posix model).
target_link_libraries(qv_quickjs PUBLIC Threads::Threads)
if(NOT WIN32)
  target_link_libraries(qv_quickjs PUBLIC m)
endif()
