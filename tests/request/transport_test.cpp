// The options and RequestConfig members about how a request travels: kept
// connections, redirect limit, user agent, proxy and TLS files, each observed
// on the wire. Decompression and HTTP/2 have test programs of their own, the
// TLS files a file in posix/.
#include <memory>
#include <string>
#include <vector>

#include "request/request_fixture.h"
#include "support/host.h"
#include "support/json.h"
#include "support/temp_dir.h"

namespace {

TEST_F(RequestTest, NewOptionsRefuseBadValuesAndChangeNothing) {
    const std::string long_agent(1024, 'a');
    struct Case {
        std::string options;
        const char *error;
    } cases[] = {
        {R"({"max_redirects":-1})", "api_configure: 'max_redirects' must be an integer from 0 to 100"},
        {R"({"max_redirects":101})", "api_configure: 'max_redirects' must be an integer from 0 to 100"},
        {R"({"max_redirects":18446744073709551615})", "api_configure: 'max_redirects' must be an integer from 0 to 100"},
        {R"({"max_redirects":5.0})", "api_configure: 'max_redirects' must be an integer from 0 to 100"},
        {R"({"max_redirects":"5"})", "api_configure: 'max_redirects' must be an integer from 0 to 100"},
        {R"({"user_agent":5})", "api_configure: 'user_agent' must be a string"},
        {R"({"user_agent":"a\r\nX-Injected: 1"})", "api_configure: 'user_agent' contains a line break or NUL"},
        {R"({"user_agent":"a\u0000b"})", "api_configure: 'user_agent' contains a line break or NUL"},
        {R"({"user_agent":")" + long_agent + "\"}", "api_configure: 'user_agent' is longer than 1023 bytes"},
        {R"({"reuse_connections":1})", "api_configure: 'reuse_connections' must be a boolean"},
        {R"({"user_agent":"ok","decompress":"yes"})", "api_configure: 'decompress' must be a boolean"},
        {R"({"max_response_bytes":-1})", "api_configure: 'max_response_bytes' must be an integer of 0 or more"},
        {R"({"max_response_bytes":1e6})", "api_configure: 'max_response_bytes' must be an integer of 0 or more"},
        {R"({"max_response_bytes":18446744073709551615})",
         "api_configure: 'max_response_bytes' must be an integer of 0 or more"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(api_configure(c.options.c_str()), 0) << c.options;
        EXPECT_STREQ(api_last_error(), c.error) << c.options;
    }
    ASSERT_EQ(send(R"({"url":"$B/o"})"), 1);
    HttpRequest r = last_request();
    EXPECT_EQ(r.header_count("User-Agent") + r.header_count("Accept-Encoding"), 0u);
    EXPECT_EQ(api_configure((R"({"user_agent":")" + long_agent.substr(1) + "\"}").c_str()), 1);
}

TEST_F(RequestTest, RedirectLimitAndUserAgentOnTheWire) {
    server.route("/loop", [this](const HttpRequest &) {
        return HttpReply(http_response(302, "", "Location: " + server.url("/loop") + "\r\n"));
    });
    struct Case {
        const char *options;
        const char *config;
        int result;
        std::size_t requests;
        const char *agent;  // nullptr: no User-Agent header
    } cases[] = {
        {"{}", R"({"url":"$B/loop"})", 0, 31, nullptr},
        {R"({"max_redirects":2})", R"({"url":"$B/loop"})", 0, 3, nullptr},
        {R"({"max_redirects":0})", R"({"url":"$B/loop"})", 0, 1, nullptr},
        {R"({"max_redirects":0})", R"({"url":"$B/loop","follow_redirects":0})", 1, 1, nullptr},
        {R"({"user_agent":"qv/1.0"})", R"({"url":"$B/ua"})", 1, 1, "qv/1.0"},
        {R"({"user_agent":"qv/1.0"})", R"({"url":"$B/ua","headers":{"User-Agent":"mine"}})", 1, 1, "mine"},
        {R"({"user_agent":""})", R"({"url":"$B/ua"})", 1, 1, nullptr},
    };
    for (const Case &c : cases) {
        api_cleanup();
        ASSERT_EQ(api_init(nullptr), 1);
        ASSERT_EQ(api_configure(c.options), 1) << c.options;
        server.clear_requests();
        EXPECT_EQ(send(c.config), c.result) << c.options << c.config;
        if (c.result == 0) {
            EXPECT_STREQ(api_last_error(), "api_request: curl error (47): Number of redirects hit maximum amount");
        }
        EXPECT_EQ(server.request_count(), c.requests) << c.options;
        HttpRequest r = last_request();
        EXPECT_EQ(r.header_count("User-Agent"), c.agent ? 1u : 0u) << c.options << c.config;
        if (c.agent) {
            EXPECT_EQ(r.header("User-Agent"), c.agent);
        }
    }
}

// Past "max_response_bytes" the transfer stops at once, even against a
// server that would send a gigabyte, and nothing of the body is kept; up to
// it a response comes whole.
TEST_F(RequestTest, ResponseLimitStopsTheTransfer) {
    auto endless = std::make_shared<const std::string>("HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n" +
                                                       std::string(1u << 20, 'e'));
    server.route("/endless", [endless](const HttpRequest &) { return HttpReply(endless); });
    server.route("/fits", [](const HttpRequest &) { return HttpReply(http_response(200, std::string(1000, 'f'))); });
    server.route("/tall", [](const HttpRequest &) {
        return HttpReply(http_response(200, "b", "X-Tall: " + std::string(1000, 't') + "\r\n"));
    });
    struct Case {
        long long limit;
        const char *path;
        bool fails;
        std::size_t body;
    } cases[] = {
        {1000, "/fits", false, 1000}, {999, "/fits", true, 0},    {0, "/fits", false, 1000},
        {1000, "/tall", true, 0},     {1200, "/tall", false, 1}, {65536, "/endless", true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.limit));
        ASSERT_EQ(api_configure(("{\"max_response_bytes\":" + std::to_string(c.limit) + "}").c_str()), 1);
        EXPECT_EQ(send(std::string(R"({"url":"$B)") + c.path + "\"}"), c.fails ? 0 : 1) << api_last_error();
        if (c.fails) {
            EXPECT_EQ(api_last_error(), "api_request: response larger than " + std::to_string(c.limit) + " bytes");
        }
        EXPECT_EQ(api_response_body_len(), static_cast<long long>(c.body));
        EXPECT_EQ(api_response_status(), 200);
    }
}

// "cookies": a jar for the session, sent as the runner sends it: by path,
// gone when expired, secure ones to this loopback address over plain HTTP
// too (newman does the same); off by default.
TEST_F(RequestTest, CookieJarSendsWhatResponsesSet) {
    server.route("/login", [](const HttpRequest &) {
        return HttpReply(http_response(200, "", "Set-Cookie: sid=abc; Path=/app\r\nSet-Cookie: pref=1\r\n"
                                                "Set-Cookie: sec=s; Secure\r\nSet-Cookie: gone=x; Max-Age=0\r\n"));
    });
    auto cookie_for = [this](const char *path) {
        EXPECT_EQ(send(std::string(R"({"url":"$B)") + path + "\"}"), 1) << api_last_error();
        return last_request().header("Cookie");
    };
    ASSERT_EQ(send(R"({"url":"$B/login"})"), 1);
    EXPECT_EQ(cookie_for("/app/x"), "");
    ASSERT_EQ(api_configure(R"({"cookies":true})"), 1);
    ASSERT_EQ(send(R"({"url":"$B/login"})"), 1);
    EXPECT_EQ(cookie_for("/app/x"), "sid=abc; pref=1; sec=s");
    EXPECT_EQ(cookie_for("/other"), "pref=1; sec=s");
    JsonDoc jar = parse_json(api_cookies_json());
    ASSERT_EQ(yyjson_arr_size(yyjson_doc_get_root(jar.get())), 3u) << api_cookies_json();
    std::string text = api_cookies_json();
    EXPECT_NE(text.find(R"({"name":"sid","value":"abc","domain":"127.0.0.1","path":"/app","secure":false,)"
                        R"("http_only":false,"host_only":true,"expires":0})"), std::string::npos) << text;

    api_cookies_clear();
    EXPECT_STREQ(api_cookies_json(), "[]");
    EXPECT_EQ(cookie_for("/app/x"), "");
    ASSERT_EQ(api_cookies_add(R"([{"name":"t","value":"v","domain":"127.0.0.1"},{"name":"u","value":"w","domain":"127.0.0.1","path":"/app"}])"), 1);
    EXPECT_EQ(cookie_for("/app/y"), "u=w; t=v");
    for (const char *bad : {"[{\"name\":\"\",\"domain\":\"h\"}]", "[{\"name\":\"a\\tb\",\"domain\":\"h\"}]", "{}", "[1]"}) {
        EXPECT_EQ(api_cookies_add(bad), 0) << bad;
        EXPECT_EQ(std::string(api_last_error()).rfind("api_cookies_add: ", 0), 0u) << api_last_error();
    }
    EXPECT_EQ(yyjson_arr_size(yyjson_doc_get_root(parse_json(api_cookies_json()).get())), 2u);
}

class KeptConnections : public RequestTest {
protected:
    HttpServer keeper{HttpServerOptions{false, 0, true}};

    // Sends each config and tells the connection serial each one came on.
    std::vector<std::size_t> connections_of(const std::vector<std::string> &configs) {
        keeper.clear_requests();
        for (const std::string &c : configs) EXPECT_EQ(api_request(c.c_str()), 1) << c << api_last_error();
        std::vector<std::size_t> serials;
        for (const HttpRequest &r : keeper.requests()) serials.push_back(r.connection);
        return serials;
    }
};

TEST_F(KeptConnections, OnlyWhenAskedAndUntilSwitchedOff) {
    keeper.set_default(http_keep_alive_response(200, "kept"));
    const std::string get = url_config(keeper.url("/k"));
    std::vector<std::size_t> fresh = connections_of({get, get});
    EXPECT_NE(fresh[0], fresh[1]);
    EXPECT_FALSE(reused());

    ASSERT_EQ(api_configure(R"({"reuse_connections":true})"), 1);
    std::vector<std::size_t> kept = connections_of({get, get, get});
    EXPECT_EQ(kept[0], kept[1]);
    EXPECT_EQ(kept[1], kept[2]);
    EXPECT_TRUE(reused());

    ASSERT_EQ(api_configure(R"({"reuse_connections":false})"), 1);
    std::vector<std::size_t> after = connections_of({get});
    EXPECT_NE(after[0], kept[2]);
    EXPECT_FALSE(reused());
}

// A request on a kept connection sends exactly the bytes it sends alone:
// nothing of an earlier request (credentials, method, headers) carries over.
TEST_F(KeptConnections, ReusedConnectionSendsWhatAFreshOneWould) {
    keeper.set_default(http_keep_alive_response(200, "ok"));
    keeper.route("/digest", [](const HttpRequest &r) {
        if (r.header("Authorization").empty()) {
            return HttpReply(http_keep_alive_response(401, "", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\"\r\n"));
        }
        return HttpReply(http_keep_alive_response(200, "in"));
    });
    const std::vector<std::string> configs = {
        url_config(keeper.url("/a"), R"(,"method":"POST","body":"x=1","auth":{"type":"basic","user":"u","pass":"p"})"),
        url_config(keeper.url("/b")),
        url_config(keeper.url("/c"), R"(,"method":"PUT","headers":{"X-Only-Here":"1"},"body":"put")"),
        url_config(keeper.url("/digest"), R"(,"auth":{"type":"digest","user":"u","pass":"p"})"),
        url_config(keeper.url("/d"), R"(,"method":"HEAD")"),
        url_config(keeper.url("/e"), R"(,"auth":{"type":"bearer","token":"t"})"),
        url_config(keeper.url("/f")),
    };
    std::vector<std::size_t> fresh_serials = connections_of(configs);
    std::vector<HttpRequest> fresh = keeper.requests();
    ASSERT_EQ(api_configure(R"({"reuse_connections":true})"), 1);
    std::vector<std::size_t> kept_serials = connections_of(configs);
    std::vector<HttpRequest> kept = keeper.requests();
    ASSERT_EQ(fresh.size(), kept.size());
    for (std::size_t i = 0; i < fresh.size(); ++i) EXPECT_EQ(kept[i].raw, fresh[i].raw) << i;
    EXPECT_EQ(kept_serials.front(), kept_serials.back());
    EXPECT_NE(fresh_serials.front(), fresh_serials.back());
}

// NTLM authenticates the connection: a later request must never inherit it.
TEST_F(KeptConnections, NtlmNeverLeavesItsConnectionBehind) {
    keeper.set_default(http_keep_alive_response(200, "ok"));
    ASSERT_EQ(api_configure(R"({"reuse_connections":true})"), 1);
    const std::string plain = url_config(keeper.url("/p"));
    std::vector<std::size_t> serials = connections_of(
        {plain, url_config(keeper.url("/n"), R"(,"auth":{"type":"ntlm","user":"u","pass":"p"})"), plain, plain});
    EXPECT_NE(serials[1], serials[0]);
    EXPECT_EQ(serials[2], serials[0]);  // the kept one is still there
    EXPECT_EQ(serials[3], serials[0]);
}

TEST_F(RequestTest, TransportMembersAreCheckedBeforeAnythingIsSent) {
    TempDir dir;
    write_text(dir.file("ca.pem"), "not used");
    const std::string file = dir.file("ca.pem"), missing = dir.file("missing.pem");
    struct Case {
        std::string extra;
        std::string error;
    } cases[] = {
        {R"("proxy":5)", "api_request: 'proxy' must be a string"},
        {R"("proxy":"ftp://127.0.0.1:1")", "api_request: 'proxy' must be an http, https, socks5 or socks5h URL"},
        {R"("proxy":"127.0.0.1:3128")", "api_request: 'proxy' must be an http, https, socks5 or socks5h URL"},
        {R"("http_version":2)", "api_request: 'http_version' must be a string"},
        {R"("http_version":"3")", "api_request: 'http_version' must be \"1.1\" or \"2\""},
        {R"("http_version":"2.0")", "api_request: 'http_version' must be \"1.1\" or \"2\""},
        {R"("ca_file":")" + missing + "\"", "api_request: cannot read ca_file '" + missing + "'"},
        {R"("ca_file":")" + dir.path() + "\"", "api_request: cannot read ca_file '" + dir.path() + "'"},
        {R"("client_key":")" + file + "\"", "api_request: 'client_key' needs 'client_cert'"},
        {R"("client_cert":")" + file + R"(","client_key":")" + missing + "\"",
         "api_request: cannot read client_key '" + missing + "'"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(send(R"({"url":"$B/t",)" + c.extra + "}"), 0) << c.extra;
        EXPECT_EQ(api_last_error(), c.error) << c.extra;
    }
    EXPECT_EQ(server.request_count(), 0u);
    // null stands for absent
    EXPECT_EQ(send(R"({"url":"$B/t","proxy":null,"http_version":null,"ca_file":null})"), 1) << api_last_error();
}

// A test server answers a proxy's requests: it sees the absolute target. It
// speaks plain HTTP in the HTTPS run too, as most proxies do.
TEST_F(RequestTest, ProxyCarriesTheRequestAndEmptyMeansDirect) {
    HttpServer proxy, origin;
    set_env("http_proxy", proxy.base_url().c_str());
    struct Case {
        std::string extra;
        bool via_proxy;
    } cases[] = {{R"(,"proxy":")" + proxy.base_url() + "\"", true},
                 {R"(,"proxy":"HTTP://127.0.0.1:)" + std::to_string(proxy.port()) + "\"", true},
                 {"", true},  // the environment's proxy, as libcurl always did
                 {R"(,"proxy":"")", false}};
    for (const Case &c : cases) {
        proxy.clear_requests();
        origin.clear_requests();
        ASSERT_EQ(api_request(url_config(origin.url("/p?q=1"), c.extra).c_str()), 1) << c.extra << api_last_error();
        std::vector<HttpRequest> seen = proxy.requests();
        EXPECT_EQ(seen.size(), c.via_proxy ? 1u : 0u) << c.extra;
        EXPECT_EQ(origin.request_count(), c.via_proxy ? 0u : 1u) << c.extra;
        if (c.via_proxy && !seen.empty()) {
            EXPECT_EQ(seen.back().target, origin.url("/p?q=1"));
        }
    }
    set_env("http_proxy", nullptr);
}

}  // namespace
