#include "support/posix/self_signed_tls.h"

#include <memory>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct PkeyFree { void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); } };
struct X509Free { void operator()(X509 *c) const { X509_free(c); } };
struct ExtFree { void operator()(X509_EXTENSION *e) const { X509_EXTENSION_free(e); } };
struct CtxFree { void operator()(SSL_CTX *c) const { SSL_CTX_free(c); } };
struct BioFree { void operator()(BIO *b) const { BIO_free(b); } };

using Key = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

constexpr long one_hour = 3600;
constexpr long one_day = 24 * one_hour;

Cert make_certificate(EVP_PKEY *key, const std::string &common_name) {
    Cert cert(X509_new());
    if (!cert) return nullptr;
    X509_set_version(cert.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -one_hour);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), one_day);
    X509_set_pubkey(cert.get(), key);

    X509_NAME *name = X509_get_subject_name(cert.get());
    const auto *cn = reinterpret_cast<const unsigned char *>(common_name.c_str());
    if (!X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, cn, -1, -1, 0)) return nullptr;
    X509_set_issuer_name(cert.get(), name);

    X509V3_CTX ext_ctx;
    X509V3_set_ctx_nodb(&ext_ctx);
    X509V3_set_ctx(&ext_ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtFree> san(
        X509V3_EXT_conf_nid(nullptr, &ext_ctx, NID_subject_alt_name, "IP:127.0.0.1"));
    if (!san || !X509_add_ext(cert.get(), san.get(), -1)) return nullptr;

    if (!X509_sign(cert.get(), key, EVP_sha256())) return nullptr;
    return cert;
}

template <typename Write>
std::string pem_of(Write write) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || !write(bio.get())) return {};
    char *data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

std::string cert_pem(X509 *cert) {
    return pem_of([cert](BIO *b) { return PEM_write_bio_X509(b, cert) == 1; });
}

}  // namespace

SelfSigned make_self_signed(const std::string &common_name) {
    Key key(EVP_EC_gen("P-256"));
    Cert cert = key ? make_certificate(key.get(), common_name) : nullptr;
    if (!cert) return {};
    std::string key_pem = pem_of([&key](BIO *b) {
        return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
    return {cert_pem(cert.get()), key_pem};
}

SSL_CTX *make_self_signed_server_ctx(std::string *pem) {
    Key key(EVP_EC_gen("P-256"));
    if (!key) return nullptr;
    Cert cert = make_certificate(key.get(), "127.0.0.1");
    if (!cert) return nullptr;
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx || SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1) {
        return nullptr;
    }
    if (pem) *pem = cert_pem(cert.get());
    return ctx.release();
}
