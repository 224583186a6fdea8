// Redirects, time-outs, TLS checking, refused schemes and failure messages.
#include <chrono>
#include <string>

#include "request/request_fixture.h"
#include "support/host.h"

namespace {

using std::chrono::milliseconds;

HttpReply redirect_to(const std::string &location) {
    return http_response(302, "moved", "Location: " + location + "\r\n");
}

TEST_F(RequestTest, RedirectsFollowedUnlessZero) {
    server.route("/from", [this](const HttpRequest &) { return redirect_to(server.url("/to")); });
    server.route("/to", [](const HttpRequest &) { return HttpReply(http_response(200, "landed", "X-Final: 1\r\n")); });

    struct Case {
        const char *follow;
        int status;
        const char *body;
    } cases[] = {{"", 200, "landed"},          {R"(,"follow_redirects":1)", 200, "landed"},
                 {R"(,"follow_redirects":0)", 302, "moved"}, {R"(,"follow_redirects":false)", 200, "landed"},
                 {R"(,"follow_redirects":"0")", 200, "landed"}, {R"(,"follow_redirects":0.0)", 200, "landed"}};
    for (const Case &c : cases) {
        ASSERT_EQ(send(std::string(R"({"url":"$B/from")") + c.follow + "}"), 1) << c.follow;
        EXPECT_EQ(api_response_status(), c.status) << c.follow;
        EXPECT_STREQ(api_response_body(), c.body) << c.follow;
    }
    // Followed: the redirect's header lines come before the final ones.
    ASSERT_EQ(send(R"({"url":"$B/from"})"), 1);
    std::string headers = api_response_headers_json();
    EXPECT_LT(headers.find("\"location\""), headers.find("\"x-final\""));
}

TEST_F(RequestTest, RedirectLoopStopsAfterThirtyHops) {
    server.route("/loop", [this](const HttpRequest &) { return redirect_to(server.url("/loop")); });
    EXPECT_EQ(send(R"({"url":"$B/loop"})"), 0);
    EXPECT_STREQ(api_last_error(), "api_request: curl error (47): Number of redirects hit maximum amount");
    EXPECT_EQ(server.request_count(), 31u);
    EXPECT_EQ(api_response_status(), 302);
}

TEST_F(RequestTest, OnlyHttpAndHttpsAreAllowed) {
    for (const char *url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "dict://127.0.0.1/x"}) {
        EXPECT_EQ(api_request((std::string(R"({"url":")") + url + "\"}").c_str()), 0);
        EXPECT_STREQ(api_last_error(), "api_request: curl error (1): Unsupported protocol") << url;
        EXPECT_STREQ(api_response_body(), "");
    }
    server.route("/to-file", [](const HttpRequest &) { return redirect_to("file:///etc/passwd"); });
    EXPECT_EQ(send(R"({"url":"$B/to-file"})"), 0);
    EXPECT_STREQ(api_last_error(), "api_request: curl error (1): Unsupported protocol");
}

TEST_F(RequestTest, TimeoutOnlyFromIntegers) {
    server.set_default(HttpReply(http_response(200, "slow"), milliseconds(1100)));
    EXPECT_EQ(send(R"({"url":"$B/slow","timeout_s":1})"), 0);
    EXPECT_EQ(std::string(api_last_error()).rfind("api_request: curl error (28): ", 0), 0u) << api_last_error();
    EXPECT_EQ(api_response_status(), 0);
    // Neither a real number nor a string sets a limit: the default 30 s applies.
    EXPECT_EQ(send(R"({"url":"$B/slow","timeout_s":"1"})"), 1);
    EXPECT_EQ(send(R"({"url":"$B/slow","timeout_s":1.0})"), 1);
    EXPECT_EQ(send(R"({"url":"$B/slow","timeout_s":0})"), 1);  // no limit
}

TEST_F(RequestTest, FailedTransferKeepsWhatArrived) {
    server.enqueue("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nX-Partial: 1\r\n\r\nonly-part");
    EXPECT_EQ(send(R"({"url":"$B/partial"})"), 0);
    // wine's Schannel reports the server's close_notify as a broken connection.
    const std::string code = over_tls() && under_wine() ? "(56)" : "(18)";
    EXPECT_EQ(std::string(api_last_error()).rfind("api_request: curl error " + code + ": ", 0), 0u) << api_last_error();
    EXPECT_EQ(api_response_status(), 200);
    EXPECT_STREQ(api_response_body(), "only-part");
    EXPECT_NE(std::string(api_response_headers_json()).find("x-partial"), std::string::npos);
    EXPECT_NE(std::string(api_response_time_json()), "{}");
}

TEST_F(RequestTest, RefusedConnectionLeavesNoResponse) {
    // Nothing listens on port 1 of the loopback.
    EXPECT_EQ(api_request(R"({"url":"http://127.0.0.1:1/"})"), 0);
    EXPECT_STREQ(api_last_error(), "api_request: curl error (7): Couldn't connect to server");
    EXPECT_EQ(api_response_status(), 0);
    EXPECT_STREQ(api_response_headers_json(), "{}");
    EXPECT_NE(std::string(api_response_time_json()).find("\"bytes\":0}"), std::string::npos);
}

TEST_F(RequestTest, ConfigMistakesHaveTheirOwnMessages) {
    struct Case {
        const char *config;
        const char *message;
    } cases[] = {
        {nullptr, "api_request: missing config_json"},
        {"", "api_request: missing config_json"},
        {"{", "api_request: invalid JSON in config_json"},
        {"{\"url\":\"x\",}", "api_request: invalid JSON in config_json"},
        {"\xef\xbb\xbf{\"url\":\"x\"}", "api_request: invalid JSON in config_json"},
        {"[]", "api_request: config_json must be an object"},
        {"\"http://x\"", "api_request: config_json must be an object"},
        {"{}", "api_request: missing 'url'"},
        {R"({"url":42})", "api_request: missing 'url'"},
        {R"({"URL":"http://x"})", "api_request: missing 'url'"},
        {R"({"url":""})", "api_request: curl error (3): URL using bad/illegal format or missing URL"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(api_request(c.config), 0);
        EXPECT_STREQ(api_last_error(), c.message) << (c.config ? c.config : "(null)");
    }
}

class TlsRequest : public LibraryTest {
protected:
    std::string received() const {
        auto all = server.requests();
        return all.empty() ? "(no request)" : all.back().target + " " + all.back().body;
    }
    HttpServer server{HttpServerOptions{true, 0}};
};

TEST_F(TlsRequest, SelfSignedCertificateRefusedUnlessInsecure) {
    if (under_wine()) GTEST_SKIP() << "wine's Schannel accepts any certificate, so no refusal can be seen";
    std::string base = R"({"url":")" + server.url("/s") + "\"";
    EXPECT_EQ(api_request((base + "}").c_str()), 0);
    EXPECT_EQ(std::string(api_last_error()).rfind("api_request: curl error (60): ", 0), 0u) << api_last_error();
    EXPECT_EQ(api_request((base + R"(,"insecure":true})").c_str()), 0);  // booleans are not integers
    EXPECT_EQ(server.request_count(), 0u);
}

TEST_F(TlsRequest, InsecureRequestArrivesWhole) {
    server.set_default(http_response(200, "secret"));
    std::string base = R"({"url":")" + server.url("/s?q=1") + "\"";
    ASSERT_EQ(api_request((base + R"(,"method":"POST","body":"payload","insecure":1})").c_str()), 1) << api_last_error();
    EXPECT_STREQ(api_response_body(), "secret");
    EXPECT_EQ(received(), "/s?q=1 payload");
    EXPECT_EQ(std::string(api_response_time_json()).find("\"tls_ms\":0,"), std::string::npos)
        << "a TLS handshake takes some time";
}

}  // namespace
