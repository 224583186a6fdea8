#include "http2/h2_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/posix/self_signed_tls.h"

extern char **environ;

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

// A port nothing listens on right now.
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
              getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0;
    if (fd >= 0) close(fd);
    if (!ok) throw std::runtime_error("no free port");
    return ntohs(addr.sin_port);
}

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(port);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

}  // namespace

H2Server::H2Server() {
    SelfSigned pair = make_self_signed("127.0.0.1");
    if (pair.cert_pem.empty()) throw std::runtime_error("cannot make the TLS certificate");
    write_text(dir_.file("cert.pem"), pair.cert_pem);
    write_text(dir_.file("key.pem"), pair.key_pem);
    mkdir(dir_.file("docs").c_str(), 0700);
    port_ = free_port();

    std::string docs = "--htdocs=" + dir_.file("docs"), port = std::to_string(port_);
    std::string key = dir_.file("key.pem"), cert = dir_.file("cert.pem");
    std::vector<char *> argv = {const_cast<char *>("nghttpd"), const_cast<char *>("--address=127.0.0.1"),
                                docs.data(), port.data(), key.data(), cert.data(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawnp(&pid_, "nghttpd", &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (rc != 0) throw std::runtime_error("cannot run nghttpd (install nghttp2-server: scripts/setup)");
    for (int i = 0; i < 500 && !accepts(port_); ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("nghttpd exited at start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!accepts(port_)) {
        stop();
        throw std::runtime_error("nghttpd does not listen");
    }
}

H2Server::~H2Server() { stop(); }

void H2Server::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void H2Server::add_file(const std::string &name, const std::string &body) { write_text(dir_.file("docs/" + name), body); }

std::string H2Server::url(const std::string &path) const { return "https://127.0.0.1:" + std::to_string(port_) + path; }
