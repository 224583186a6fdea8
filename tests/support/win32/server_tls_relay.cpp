#include "support/server_tls.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

// The relay's control port, from the file it writes when it starts.
int relay_control_port() {
    const char *file = std::getenv("QV_TLS_RELAY_FILE");
#ifdef QV_TLS_RELAY_FILE
    if (!file) file = QV_TLS_RELAY_FILE;
#endif
    int port = 0;
    if (file) std::ifstream(file) >> port;
    if (port <= 0) {
        throw std::runtime_error(std::string("no TLS relay running (port file ") + (file ? file : "unset") +
                                 "): run the tests through ctest, whose tls_relay fixture starts it");
    }
    return port;
}

// Asking the relay for a TLS port in front of the plain one; it serves that
// port for as long as this control connection stays open.
class RelayServer : public ServerTls {
public:
    explicit RelayServer(int plain_port) : control_(connect_loopback(relay_control_port())) {
        if (control_ == no_socket) throw std::runtime_error("cannot reach the TLS relay");
        const std::string ask = "relay " + std::to_string(plain_port) + "\n";
        std::string answer;
        char c;
        bool sent = send_all(control_, ask.data(), ask.size());
        while (sent && recv_some(control_, &c, 1) == 1 && c != '\n') answer += c;
        port_ = std::atoi(answer.c_str());
        if (port_ <= 0) {
            close_socket(control_);
            throw std::runtime_error("the TLS relay refused: " + answer);
        }
    }
    ~RelayServer() override { close_socket(control_); }
    int port() const override { return port_; }
    std::string certificate_pem() const override { return {}; }
    bool accept(socket_t, std::unique_ptr<TlsConnection> &) override { return true; }

private:
    socket_t control_;
    int port_ = 0;
};

}  // namespace

std::unique_ptr<ServerTls> ServerTls::start(int plain_port, bool) { return std::make_unique<RelayServer>(plain_port); }
