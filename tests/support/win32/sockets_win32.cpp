#include "support/sockets.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace {

// Winsock must be started once in each process before any other call.
void start_winsock() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return addr;
}

}  // namespace

socket_t listen_loopback(int port, int &bound) {
    start_winsock();
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return no_socket;
    // Exclusive: Windows' SO_REUSEADDR would let another socket take the port.
    BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&one), sizeof one);
    sockaddr_in addr = loopback(port);
    int len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(s, SOMAXCONN) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        closesocket(s);
        return no_socket;
    }
    bound = ntohs(addr.sin_port);
    return s;
}

socket_t accept_connection(socket_t listener) {
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return no_socket;
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    return s;
}

socket_t connect_loopback(int port) {
    start_winsock();
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return no_socket;
    sockaddr_in addr = loopback(port);
    if (connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        closesocket(s);
        return no_socket;
    }
    return s;
}

long recv_some(socket_t s, char *buf, std::size_t n) {
    return recv(s, buf, static_cast<int>(std::min<std::size_t>(n, 1 << 30)), 0);
}

long send_some(socket_t s, const char *buf, std::size_t n) {
    return send(s, buf, static_cast<int>(std::min<std::size_t>(n, 1 << 30)), 0);
}

bool send_all(socket_t s, const char *buf, std::size_t n) {
    while (n > 0) {
        long sent = send_some(s, buf, n);
        if (sent <= 0) return false;
        buf += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

void shutdown_send(socket_t s) { shutdown(s, SD_SEND); }
void shutdown_both(socket_t s) { shutdown(s, SD_BOTH); }

void set_recv_timeout(socket_t s, int millis) {
    DWORD wait = static_cast<DWORD>(millis);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&wait), sizeof wait);
}

void set_send_timeout(socket_t s, int millis) {
    DWORD wait = static_cast<DWORD>(millis);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&wait), sizeof wait);
}

void close_socket(socket_t s) { closesocket(s); }
