# A build directory configured again with another Windows dependency prefix
# (scripts/win-deps prints a new one whenever a dependency changes) must not
# keep the packages it found in the old one.
if(QV_WIN_DEPS AND NOT QV_WIN_DEPS STREQUAL QV_WIN_DEPS_FOUND)
  unset(CURL_DIR CACHE)
  unset(yyjson_DIR CACHE)
  unset(GTest_DIR CACHE)
  set(QV_WIN_DEPS_FOUND "${QV_WIN_DEPS}" CACHE INTERNAL "prefix the Windows packages were found in")
endif()

# 7.85 brings the protocol allow-lists (CURLOPT_PROTOCOLS_STR) every request sets.
find_package(CURL 7.85 REQUIRED)
find_package(PkgConfig QUIET)

# yyjson 0.12: through its CMake package, else pkg-config; the version is
# checked against pkg-config here and against the header at compile time.
find_package(yyjson CONFIG QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(QV_YYJSON_PC QUIET yyjson)
  if(QV_YYJSON_PC_FOUND AND NOT QV_YYJSON_PC_VERSION MATCHES "^0\\.12\\.")
    message(FATAL_ERROR "yyjson 0.12.x is required, found ${QV_YYJSON_PC_VERSION}")
  endif()
endif()
if(NOT TARGET yyjson::yyjson)
  if(NOT QV_YYJSON_PC_FOUND)
    message(FATAL_ERROR "yyjson 0.12 not found (run scripts/setup)")
  endif()
  pkg_check_modules(QV_YYJSON REQUIRED IMPORTED_TARGET yyjson>=0.12)
  add_library(yyjson::yyjson ALIAS PkgConfig::QV_YYJSON)
endif()
