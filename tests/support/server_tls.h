// TLS for the local test server. On POSIX, OpenSSL inside the process with a
// certificate made at run time. Under Windows the server stays plain and a
// relay program on the Linux side of 127.0.0.1 (tests/support/tls_relay)
// ends the TLS and passes the bytes on unchanged: wine's Schannel can be a
// client but not a server, and there is no OpenSSL for mingw here.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "support/sockets.h"

// One accepted connection after its handshake.
class TlsConnection {
public:
    virtual ~TlsConnection() = default;
    virtual long read(char *buf, std::size_t n) = 0;   // <= 0: closed or failed
    virtual long write(const char *buf, std::size_t n) = 0;
    virtual void close_notify() = 0;
    // CN of the client's certificate ("" when none), and whether the
    // handshake resumed an earlier session.
    virtual std::string client_cert_cn() const = 0;
    virtual bool resumed() const = 0;
};

class ServerTls {
public:
    // Serves HTTPS for the plain listener on plain_port, asking clients for a
    // certificate (any is accepted) when told to; throws when it cannot.
    static std::unique_ptr<ServerTls> start(int plain_port, bool ask_client_cert);
    virtual ~ServerTls() = default;

    // Where HTTPS clients connect.
    virtual int port() const = 0;
    // The server's self-signed certificate, for clients that trust it; ""
    // through the relay.
    virtual std::string certificate_pem() const = 0;
    // Runs on the connection's own thread. False when the handshake fails;
    // `out` stays empty when what arrives is already plain (the relay), so
    // requests through the relay show no client certificate or resumption.
    virtual bool accept(socket_t s, std::unique_ptr<TlsConnection> &out) = 0;
};
