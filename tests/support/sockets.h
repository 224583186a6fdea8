// The few socket calls of the test server and its tests, the same on POSIX
// and on Winsock. Every socket is a blocking TCP socket on 127.0.0.1.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#include <winsock2.h>
using socket_t = SOCKET;
inline constexpr socket_t no_socket = INVALID_SOCKET;
#else
using socket_t = int;
inline constexpr socket_t no_socket = -1;
#endif

// Listens on 127.0.0.1:port (0: any free port) and gives the port bound;
// no_socket on failure.
socket_t listen_loopback(int port, int &bound);
// The next connection, with Nagle's delay off; no_socket on failure.
socket_t accept_connection(socket_t listener);
socket_t connect_loopback(int port);

// Like recv and send; a peer that hung up gives -1, never a signal.
long recv_some(socket_t s, char *buf, std::size_t n);
long send_some(socket_t s, const char *buf, std::size_t n);
bool send_all(socket_t s, const char *buf, std::size_t n);

void shutdown_send(socket_t s);
// Ends every call blocked on the socket, in any thread.
void shutdown_both(socket_t s);
void set_recv_timeout(socket_t s, int millis);
// A send the peer never takes fails after this long instead of holding the server.
void set_send_timeout(socket_t s, int millis);
void close_socket(socket_t s);
