# The TLS relay (tls_relay.cpp) is a Linux program: it is built with the
# host's own compiler beside the cross build, and runs for the test programs
# as a CTest fixture. Sets QV_TLS_RELAY_FILE, where it writes its port.
find_program(QV_HOST_CXX NAMES c++ g++ NO_CMAKE_FIND_ROOT_PATH)
if(NOT QV_HOST_CXX)
  message(FATAL_ERROR "the TLS relay of the Windows tests needs a host C++ compiler (g++)")
endif()
set(QV_TLS_RELAY ${CMAKE_CURRENT_BINARY_DIR}/tls_relay)
set(QV_TLS_RELAY_FILE ${CMAKE_CURRENT_BINARY_DIR}/tls_relay.port)
set(support ${CMAKE_CURRENT_LIST_DIR}/..)
set(relay_sources ${support}/tls_relay/tls_relay.cpp ${support}/posix/self_signed_tls.cpp
  ${support}/posix/sockets_posix.cpp)
set(relay_flags -std=c++20 -O2 -Wall -Wextra -Wshadow)
if(QV_WERROR)
  list(APPEND relay_flags -Werror)
endif()
add_custom_command(OUTPUT ${QV_TLS_RELAY}
  COMMAND ${QV_HOST_CXX} ${relay_flags} -I${support}/.. ${relay_sources} -o ${QV_TLS_RELAY} -lssl -lcrypto -pthread
  DEPENDS ${relay_sources} ${support}/sockets.h ${support}/posix/self_signed_tls.h
  COMMENT "Building the TLS relay for the host"
  VERBATIM)
add_custom_target(qv_tls_relay ALL DEPENDS ${QV_TLS_RELAY})

add_test(NAME tls_relay_start COMMAND ${QV_TLS_RELAY} --daemon ${QV_TLS_RELAY_FILE})
add_test(NAME tls_relay_stop COMMAND ${QV_TLS_RELAY} --stop ${QV_TLS_RELAY_FILE})
set_tests_properties(tls_relay_start PROPERTIES FIXTURES_SETUP tls_relay)
set_tests_properties(tls_relay_stop PROPERTIES FIXTURES_CLEANUP tls_relay)
