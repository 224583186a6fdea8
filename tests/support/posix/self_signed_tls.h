// Self-signed certificates for the local test servers and clients: a fresh
// EC P-256 key and a certificate for a common name (with 127.0.0.1 as its
// subjectAltName IP), valid from an hour ago for a day, so that clock skew
// cannot fail a handshake.
#pragma once

#include <string>

#include <openssl/ssl.h>

struct SelfSigned {
    std::string cert_pem;
    std::string key_pem;
};

// Empty texts when OpenSSL fails.
SelfSigned make_self_signed(const std::string &common_name);

// A server context with a certificate for 127.0.0.1; its PEM goes to
// *cert_pem when given. nullptr when OpenSSL fails; free with SSL_CTX_free.
SSL_CTX *make_self_signed_server_ctx(std::string *cert_pem = nullptr);
