#include "support/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return addr;
}

}  // namespace

socket_t listen_loopback(int port, int &bound) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return no_socket;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr = loopback(port);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        close(fd);
        return no_socket;
    }
    bound = ntohs(addr.sin_port);
    return fd;
}

socket_t accept_connection(socket_t listener) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return no_socket;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

socket_t connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return no_socket;
    sockaddr_in addr = loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return no_socket;
    }
    return fd;
}

long recv_some(socket_t s, char *buf, std::size_t n) { return recv(s, buf, n, 0); }

long send_some(socket_t s, const char *buf, std::size_t n) { return send(s, buf, n, MSG_NOSIGNAL); }

bool send_all(socket_t s, const char *buf, std::size_t n) {
    while (n > 0) {
        long sent = send_some(s, buf, std::min<std::size_t>(n, 1 << 30));
        if (sent <= 0) return false;
        buf += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

void shutdown_send(socket_t s) { shutdown(s, SHUT_WR); }
void shutdown_both(socket_t s) { shutdown(s, SHUT_RDWR); }

void set_recv_timeout(socket_t s, int millis) {
    timeval wait{millis / 1000, (millis % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

void set_send_timeout(socket_t s, int millis) {
    timeval wait{millis / 1000, (millis % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
}

void close_socket(socket_t s) { close(s); }
