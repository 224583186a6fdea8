// TLS server context for the local test server: a fresh EC P-256 key and a
// self-signed certificate for 127.0.0.1 (CN and subjectAltName IP), valid
// from an hour ago for a day, so that clock skew cannot fail a handshake.
#pragma once

#include <openssl/ssl.h>

// nullptr when OpenSSL fails; the caller frees the context with SSL_CTX_free.
SSL_CTX *make_self_signed_server_ctx();
