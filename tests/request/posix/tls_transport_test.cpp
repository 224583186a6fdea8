// TLS files of a request (ca_file, client_cert, client_key) and TLS sessions
// on kept connections, observed by the server. POSIX only: under wine the
// HTTPS server is a relay on the Linux side, which shows the Windows test
// program neither the client's certificate nor a resumed session, wine's
// Schannel accepts any server certificate, and the certificates are made
// with OpenSSL, which the Windows build has not.
#include <string>

#include "request/request_fixture.h"
#include "support/json.h"
#include "support/posix/self_signed_tls.h"
#include "support/temp_dir.h"

namespace {

class TlsTransport : public LibraryTest {
protected:
    TlsTransport() {
        write_text(dir.file("ca.pem"), server.certificate_pem());
        SelfSigned client = make_self_signed("client-a");
        write_text(dir.file("client.pem"), client.cert_pem);
        write_text(dir.file("client.key"), client.key_pem);
        write_text(dir.file("client-both.pem"), client.cert_pem + client.key_pem);
        server.set_default(http_keep_alive_response(200, "secret"));
    }

    // Sends with the given members; the client certificate's CN the server saw, or "-" on failure.
    std::string send(const std::string &extra) {
        if (api_request(url_config(server.url("/s"), extra).c_str()) != 1) return "-";
        auto all = server.requests();
        return all.back().client_cert_cn;
    }

    TempDir dir;
    HttpServer server{HttpServerOptions{true, 0, true, true}};
    std::string ca = R"(,"ca_file":")" + dir.file("ca.pem") + "\"";
    std::string more_cas = R"(,"extra_ca_file":")" + dir.file("ca.pem") + "\"";
    std::string cert = R"(,"client_cert":")" + dir.file("client.pem") + R"(","client_key":")" + dir.file("client.key") + "\"";
};

// Kept or not, a connection never lends a request a looser check or
// another identity than its own members ask for.
TEST_F(TlsTransport, CheckingAndIdentityAreNeverInherited) {
    for (bool reuse : {false, true}) {
        ASSERT_EQ(api_configure(reuse ? R"({"reuse_connections":true})" : R"({"reuse_connections":false})"), 1);
        struct Step {
            std::string extra;
            const char *cn;
        } steps[] = {
            {R"(,"insecure":1)", ""},
            {"", "-"},  // verification on, and nothing trusts the server
            {ca, ""},
            {ca + cert, "client-a"},
            {ca, ""},
            {ca + R"(,"client_cert":")" + dir.file("client-both.pem") + "\"", "client-a"},
            {R"(,"insecure":1)" + cert, "client-a"},
            {R"(,"insecure":1)", ""},
            // Trusted beside the system's authorities, and for this request only.
            {more_cas, ""},
            {"", "-"},
            {R"(,"extra_ca_file":")" + dir.file("client.pem") + "\"", "-"},
            {R"(,"extra_ca_file":")" + dir.file("missing.pem") + "\"", "-"},
        };
        for (const Step &s : steps) EXPECT_EQ(send(s.extra), s.cn) << reuse << s.extra << api_last_error();
    }
    EXPECT_EQ(send(ca), "");
    EXPECT_TRUE(reused());
}

TEST_F(TlsTransport, SessionsResumeOnlyWhenKept) {
    server.set_default(http_response(200, "closed after each"));
    for (bool reuse : {false, true}) {
        ASSERT_EQ(api_configure(reuse ? R"({"reuse_connections":true})" : R"({"reuse_connections":false})"), 1);
        server.clear_requests();
        ASSERT_EQ(send(ca), "");
        ASSERT_EQ(send(ca), "");
        auto all = server.requests();
        EXPECT_NE(all[0].connection, all[1].connection);
        EXPECT_EQ(all[1].tls_resumed, reuse) << reuse;
    }
}

}  // namespace
