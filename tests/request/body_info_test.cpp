// Whole binary bodies (api_response_body_len) and the story of a transfer
// (api_response_info_json): hops, addresses, byte counts and phases.
#include <string>
#include <vector>

#include "request/request_fixture.h"
#include "support/json.h"

namespace {

using namespace std::string_literals;

// A real 4x4 RGBA PNG: its header and pixels hold NUL bytes.
const std::string png(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52"
    "\x00\x00\x00\x04\x00\x00\x00\x04\x08\x06\x00\x00\x00\xa9\xf1\x9e"
    "\x7e\x00\x00\x00\x2c\x49\x44\x41\x54\x78\xda\x15\xc8\x31\x01\x00"
    "\x00\x0c\xc2\x30\x84\x21\x0c\x61\xf8\xdb\xca\xd1\xa3\x91\xa4\x33"
    "\x85\x4a\xbc\x01\x03\x06\x3c\x08\x10\x20\x40\x06\x05\x0a\x14\xe8"
    "\x3d\x28\x19\x1b\x31\x24\x9b\xf3\xd3\x00\x00\x00\x00\x49\x45\x4e"
    "\x44\xae\x42\x60\x82",
    101);

std::string all_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7) % 256);
    return s;
}

TEST_F(RequestTest, BinaryBodiesComeBackWhole) {
    EXPECT_EQ(api_response_body_len(), 0);
    // Sizes around the first buffer (16 KiB) and its doublings.
    const std::string bodies[] = {png, "before\0after"s, "\0"s, "", all_bytes(16383), all_bytes(16384),
                                  all_bytes(16385), all_bytes(70000)};
    for (const std::string &body : bodies) {
        server.enqueue(http_response(200, body, "Content-Type: application/octet-stream\r\n"));
        ASSERT_EQ(send(R"({"url":"$B/bin"})"), 1) << api_last_error();
        ASSERT_EQ(api_response_body_len(), static_cast<long long>(body.size()));
        EXPECT_EQ(std::string(api_response_body(), body.size()), body) << body.size();
        EXPECT_EQ(api_response_body()[body.size()], '\0');
    }
    EXPECT_EQ(api_request("{}"), 0);
    EXPECT_EQ(api_response_body_len(), 0);
}

// The members of an info object, parsed.
struct Info {
    JsonDoc doc;
    yyjson_val *root;
    long long num(const char *key) const { return yyjson_get_sint(yyjson_obj_get(root, key)); }
    long long phase(const char *key) const { return yyjson_get_sint(yyjson_obj_get(yyjson_obj_get(root, "timing_us"), key)); }
};

Info info() {
    Info i{parse_json(api_response_info_json()), nullptr};
    i.root = yyjson_doc_get_root(i.doc.get());
    return i;
}

std::size_t head_size(const std::string &reply) { return reply.find("\r\n\r\n") + 4; }

TEST_F(RequestTest, InfoTellsEveryHopOfARedirectChain) {
    EXPECT_STREQ(api_response_info_json(), "{}");
    const std::string hops[] = {http_response(302, "moved", "Location: /b\r\nX-Hop: 1\r\n"),
                                http_response(301, "", "Location: " + server.url("/c") + "\r\n"),
                                http_response(307, "", "Location: /d\r\nSet-Cookie: a=1\r\n")};
    const std::string final_reply = http_response(200, "landed", "X-Final: 1\r\n");
    server.route("/a", [&](const HttpRequest &) { return HttpReply(hops[0]); });
    server.route("/b", [&](const HttpRequest &) { return HttpReply(hops[1]); });
    server.route("/c", [&](const HttpRequest &) { return HttpReply(hops[2]); });
    server.route("/d", [&](const HttpRequest &) { return HttpReply(final_reply); });
    ASSERT_EQ(send(R"({"url":"$B/a","method":"POST","body":"hello"})"), 1) << api_last_error();

    Info i = info();
    ASSERT_TRUE(i.root) << api_response_info_json();
    EXPECT_STREQ(json_str(i.root, "url"), server.url("/a").c_str());
    EXPECT_STREQ(json_str(i.root, "effective_url"), server.url("/d").c_str());
    EXPECT_STREQ(json_str(i.root, "http_version"), "1.1");
    EXPECT_STREQ(json_str(i.root, "remote_ip"), "127.0.0.1");
    EXPECT_EQ(i.num("remote_port"), server.port());
    EXPECT_GT(i.num("local_port"), 0);
    EXPECT_EQ(i.num("redirect_count"), 3);
    EXPECT_EQ(json_text(yyjson_obj_get(i.root, "redirects")),
              R"([{"status":302,"location":"/b","headers":{"location":"/b","x-hop":"1","content-length":"5","connection":"close"}},)"
              R"({"status":301,"location":")" + server.url("/c") + R"(","headers":{"location":")" + server.url("/c") +
                  R"(","content-length":"0","connection":"close"}},)"
              R"({"status":307,"location":"/d","headers":{"location":"/d","set-cookie":"a=1","content-length":"0","connection":"close"}}])");
    // The headers JSON is what it always was: every hop's lines, the final ones last.
    std::string headers = api_response_headers_json();
    EXPECT_LT(headers.find("\"x-hop\""), headers.find("\"x-final\":\"1\""));

    std::size_t sent = 0;
    for (const HttpRequest &r : server.requests()) sent += r.raw.size();
    std::size_t heads = head_size(final_reply);
    for (const std::string &hop : hops) heads += head_size(hop);
    EXPECT_EQ(i.num("bytes_sent"), static_cast<long long>(sent));
    EXPECT_EQ(i.num("header_bytes"), static_cast<long long>(heads));
    EXPECT_EQ(i.num("bytes_received"), static_cast<long long>(heads + 6));
    EXPECT_FALSE(yyjson_get_bool(yyjson_obj_get(i.root, "connection_reused")));
    if (over_tls()) {
        EXPECT_GT(i.phase("tls"), 0);
    } else {
        EXPECT_EQ(i.phase("tls"), 0);
    }
    EXPECT_GT(i.phase("redirect"), 0);
    EXPECT_EQ(i.phase("dns") + i.phase("connect") + i.phase("tls") + i.phase("wait") + i.phase("download") +
                  i.phase("redirect"),
              i.phase("total"))
        << api_response_info_json();
}

TEST_F(RequestTest, InfoCountsOnlyRedirectsFollowed) {
    server.route("/loop", [this](const HttpRequest &) {
        return HttpReply(http_response(302, "", "Location: " + server.url("/loop") + "\r\n"));
    });
    struct Case {
        const char *config;
        int result;
        long long redirects;
        const char *version;
    } cases[] = {
        {R"({"url":"$B/loop","follow_redirects":0})", 1, 0, "1.1"},
        {R"({"url":"$B/loop"})", 0, 30, "1.1"},  // the limit: the 31st is the final response
        {R"({"url":"http://127.0.0.1:1/"})", 0, 0, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(send(c.config), c.result) << c.config;
        Info i = info();
        ASSERT_TRUE(i.root) << c.config;
        EXPECT_EQ(i.num("redirect_count"), c.redirects) << c.config;
        EXPECT_STRNE(json_str(i.root, "url"), "") << c.config;  // failed transfers too
        EXPECT_EQ(static_cast<long long>(yyjson_arr_size(yyjson_obj_get(i.root, "redirects"))), c.redirects);
        EXPECT_STREQ(json_str(i.root, "http_version"), c.version) << c.config;
    }
    EXPECT_EQ(api_request("not json"), 0);
    EXPECT_STREQ(api_response_info_json(), "{}");
}

}  // namespace
