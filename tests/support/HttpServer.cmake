# The local HTTP(S) server as a library of its own, for programs outside the
# test suite (the demo server, the benchmarks; POSIX only). Included from several places.
if(NOT TARGET qv_http_server)
  find_package(OpenSSL REQUIRED)
  find_package(Threads REQUIRED)
  add_library(qv_http_server STATIC
    ${CMAKE_CURRENT_LIST_DIR}/http_server.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/server_tls_openssl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/self_signed_tls.cpp
    ${CMAKE_CURRENT_LIST_DIR}/posix/sockets_posix.cpp)
  target_include_directories(qv_http_server PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(qv_http_server PUBLIC OpenSSL::SSL OpenSSL::Crypto Threads::Threads
    PRIVATE qv_warnings)
endif()
