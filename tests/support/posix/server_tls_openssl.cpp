#include "support/server_tls.h"

#include <pthread.h>
#include <signal.h>

#include <stdexcept>

#include "support/posix/self_signed_tls.h"

namespace {

class OpensslConnection : public TlsConnection {
public:
    explicit OpensslConnection(SSL *ssl) : ssl_(ssl) {}
    ~OpensslConnection() override { SSL_free(ssl_); }
    long read(char *buf, std::size_t n) override { return SSL_read(ssl_, buf, static_cast<int>(n)); }
    long write(const char *buf, std::size_t n) override { return SSL_write(ssl_, buf, static_cast<int>(n)); }
    void close_notify() override { SSL_shutdown(ssl_); }
    bool resumed() const override { return SSL_session_reused(ssl_) == 1; }

    std::string client_cert_cn() const override {
        X509 *cert = SSL_get1_peer_certificate(ssl_);
        if (!cert) return {};
        char cn[256] = "";
        X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof cn);
        X509_free(cert);
        return cn;
    }

private:
    SSL *ssl_;
};

class OpensslServer : public ServerTls {
public:
    OpensslServer(SSL_CTX *ctx, std::string pem, int port) : ctx_(ctx), pem_(std::move(pem)), port_(port) {}
    ~OpensslServer() override { SSL_CTX_free(ctx_); }
    int port() const override { return port_; }
    std::string certificate_pem() const override { return pem_; }

    bool accept(socket_t s, std::unique_ptr<TlsConnection> &out) override {
        // TLS writes go through write(2): a client that hung up must give
        // EPIPE here, not a SIGPIPE that ends the test program.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        SSL *ssl = SSL_new(ctx_);
        if (!ssl) return false;
        auto conn = std::make_unique<OpensslConnection>(ssl);
        if (SSL_set_fd(ssl, s) != 1 || SSL_accept(ssl) != 1) return false;
        out = std::move(conn);
        return true;
    }

private:
    SSL_CTX *ctx_;
    std::string pem_;
    int port_;
};

}  // namespace

std::unique_ptr<ServerTls> ServerTls::start(int plain_port, bool ask_client_cert) {
    std::string pem;
    SSL_CTX *ctx = make_self_signed_server_ctx(&pem);
    if (!ctx) throw std::runtime_error("cannot make the TLS certificate");
    // Resumed sessions need an id context once client certificates are asked for.
    static const unsigned char context[] = "qv-test";
    SSL_CTX_set_session_id_context(ctx, context, sizeof context - 1);
    if (ask_client_cert) SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX *) { return 1; });
    return std::make_unique<OpensslServer>(ctx, std::move(pem), plain_port);
}
