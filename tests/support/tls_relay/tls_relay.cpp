// The TLS side of the test server for test programs that run under wine:
// a Linux program that ends TLS for them, since wine's Schannel cannot serve.
// A test server asks on the control port with "relay <plain port>\n" and
// gets "<tls port>\n"; every connection to the TLS port is passed on, byte
// for byte, to the plain port, until the control connection closes.
//
//   tls_relay --daemon PORT_FILE   starts in the background; PORT_FILE gets the control port
//   tls_relay --stop PORT_FILE     ends the relay started with PORT_FILE
//   tls_relay PORT_FILE            runs in the foreground
//
// A relay that nobody has used for 15 minutes ends by itself, so that an
// interrupted test run leaves nothing running.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/posix/self_signed_tls.h"
#include "support/sockets.h"

namespace {

constexpr int idle_limit_ms = 15 * 60 * 1000;
constexpr std::size_t chunk = 64 * 1024;

SSL_CTX *g_ctx = nullptr;
std::atomic<int> g_active{0};

// Passes bytes both ways until each side has closed; a failure ends both.
void pump(SSL *ssl, socket_t client, socket_t backend) {
    bool from_client = true, from_backend = true;
    std::vector<char> buf(chunk);
    while (from_client || from_backend) {
        pollfd fds[2] = {{client, static_cast<short>(from_client ? POLLIN : 0), 0},
                         {backend, static_cast<short>(from_backend ? POLLIN : 0), 0}};
        if (from_client && SSL_pending(ssl) > 0) {
            fds[0].revents = POLLIN;
        } else if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (from_client && fds[0].revents != 0) {
            int n = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()));
            if (n > 0) {
                if (!send_all(backend, buf.data(), static_cast<std::size_t>(n))) return;
            } else {
                from_client = false;
                shutdown_send(backend);
            }
        }
        if (from_backend && fds[1].revents != 0) {
            long n = recv_some(backend, buf.data(), buf.size());
            if (n > 0) {
                if (SSL_write(ssl, buf.data(), static_cast<int>(n)) <= 0) return;
            } else {
                from_backend = false;
                SSL_shutdown(ssl);
                shutdown_send(client);
            }
        }
    }
}

// One TLS port in front of one plain port, for as long as its control
// connection stays open.
class Relay {
public:
    Relay(socket_t listener, int backend_port) : listener_(listener), backend_port_(backend_port) {}

    void run(socket_t control) {
        std::thread acceptor([this] { accept_loop(); });
        char c;
        while (recv_some(control, &c, 1) > 0) {
        }
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            for (socket_t s : open_) shutdown_both(s);
        }
        shutdown_both(listener_);  // wakes the blocked accept
        acceptor.join();
        for (auto &t : threads_) t.join();
        close_socket(listener_);
    }

private:
    void accept_loop() {
        for (;;) {
            socket_t client = accept_connection(listener_);
            std::lock_guard lock(mutex_);
            if (stopping_ || client == no_socket) {
                if (client != no_socket) close_socket(client);
                if (stopping_) return;
                continue;
            }
            open_.insert(client);
            threads_.emplace_back([this, client] { serve(client); });
        }
    }

    void serve(socket_t client) {
        socket_t backend = connect_loopback(backend_port_);
        SSL *ssl = SSL_new(g_ctx);
        if (backend != no_socket && ssl && SSL_set_fd(ssl, client) == 1 && SSL_accept(ssl) == 1) {
            {
                std::lock_guard lock(mutex_);
                open_.insert(backend);
                if (stopping_) shutdown_both(backend);
            }
            pump(ssl, client, backend);
        }
        SSL_free(ssl);
        std::lock_guard lock(mutex_);
        for (socket_t s : {client, backend}) {
            if (s == no_socket) continue;
            open_.erase(s);
            close_socket(s);
        }
    }

    socket_t listener_;
    int backend_port_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::set<socket_t> open_;
    std::vector<std::thread> threads_;
};

void serve_control(socket_t control) {
    std::string line;
    char c;
    while (recv_some(control, &c, 1) == 1 && c != '\n') line += c;
    if (line == "quit") std::_Exit(0);
    int backend_port = 0, tls_port = 0;
    socket_t listener = no_socket;
    if (std::sscanf(line.c_str(), "relay %d", &backend_port) == 1 && backend_port > 0) {
        listener = listen_loopback(0, tls_port);
    }
    std::string answer = (listener == no_socket ? std::string("error") : std::to_string(tls_port)) + "\n";
    if (listener != no_socket && send_all(control, answer.data(), answer.size())) {
        Relay(listener, backend_port).run(control);
    } else {
        send_all(control, answer.data(), answer.size());
        if (listener != no_socket) close_socket(listener);
    }
    close_socket(control);
}

bool write_port_file(const std::string &path, int port) {
    const std::string temp = path + ".new";
    std::ofstream(temp) << port << "\n";
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

int serve(const std::string &port_file, int ready_fd) {
    int port = 0;
    socket_t control = listen_loopback(0, port);
    if (control == no_socket || !write_port_file(port_file, port)) return 1;
    if (ready_fd >= 0) {
        (void)!write(ready_fd, "", 1);
        close(ready_fd);
    }
    for (;;) {
        pollfd fd{control, POLLIN, 0};
        int n = poll(&fd, 1, idle_limit_ms);
        if (n == 0 && g_active == 0) break;
        if (n <= 0) continue;
        socket_t s = accept_connection(control);
        if (s == no_socket) continue;
        ++g_active;
        std::thread([s] {
            serve_control(s);
            --g_active;
        }).detach();
    }
    std::remove(port_file.c_str());
    return 0;
}

// Returns once the background relay has written its port file, so that the
// tests started next find it; the relay keeps none of the caller's output
// open, or a test runner reading it would wait for the relay to end.
int daemonize(const std::string &port_file) {
    int ready[2];
    if (pipe(ready) != 0) return 1;
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid > 0) {
        close(ready[1]);
        char c;
        bool ok = read(ready[0], &c, 1) == 1;
        close(ready[0]);
        return ok ? 0 : 1;
    }
    close(ready[0]);
    setsid();
    int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(null, fd);
    if (null > 2) close(null);
    std::_Exit(serve(port_file, ready[1]));
}

int stop(const std::string &port_file) {
    int port = 0;
    std::ifstream(port_file) >> port;
    socket_t s = port > 0 ? connect_loopback(port) : no_socket;
    if (s != no_socket) {
        send_all(s, "quit\n", 5);
        close_socket(s);
    }
    std::remove(port_file.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if ((argc != 2 && mode != "--daemon" && mode != "--stop") || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: tls_relay [--daemon|--stop] PORT_FILE\n");
        return 2;
    }
    const std::string port_file = argv[argc - 1];
    if (mode == "--stop") return stop(port_file);
    signal(SIGPIPE, SIG_IGN);
    g_ctx = make_self_signed_server_ctx();
    if (!g_ctx) {
        std::fprintf(stderr, "tls_relay: cannot make the TLS certificate\n");
        return 1;
    }
    return mode == "--daemon" ? daemonize(port_file) : serve(port_file, -1);
}
