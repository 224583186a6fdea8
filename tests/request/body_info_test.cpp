// Whole binary bodies (api_response_body_len) and the story of a transfer
// (api_response_info_json): hops, addresses, byte counts and phases.
#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "request/request_fixture.h"
#include "support/json.h"

namespace {

using namespace std::string_literals;

std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string png_chunk(const std::string &type, const std::string &data) {
    std::string typed = type + data;
    auto crc = crc32(0, reinterpret_cast<const Bytef *>(typed.data()), static_cast<uInt>(typed.size()));
    return be32(static_cast<std::uint32_t>(data.size())) + typed + be32(static_cast<std::uint32_t>(crc));
}

// A real 16x16 RGBA image: its header and pixels are full of NUL bytes.
std::string make_png() {
    std::string raw;
    for (int y = 0; y < 16; ++y) {
        raw += '\0';  // filter: none
        for (int x = 0; x < 16; ++x) raw += {static_cast<char>(x * 16), '\0', static_cast<char>(y * 16), '\xff'};
    }
    std::vector<Bytef> packed(compressBound(static_cast<uLong>(raw.size())));
    uLongf packed_len = static_cast<uLongf>(packed.size());
    compress(packed.data(), &packed_len, reinterpret_cast<const Bytef *>(raw.data()), static_cast<uLong>(raw.size()));
    return "\x89PNG\r\n\x1a\n"s + png_chunk("IHDR", be32(16) + be32(16) + "\x08\x06\x00\x00\x00"s) +
           png_chunk("IDAT", std::string(reinterpret_cast<char *>(packed.data()), packed_len)) + png_chunk("IEND", "");
}

std::string all_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7) % 256);
    return s;
}

TEST_F(RequestTest, BinaryBodiesComeBackWhole) {
    EXPECT_EQ(api_response_body_len(), 0);
    // Sizes around the first buffer (16 KiB) and its doublings.
    const std::string bodies[] = {make_png(), "before\0after"s, "\0"s, "", all_bytes(16383), all_bytes(16384),
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
    EXPECT_EQ(i.phase("tls"), 0);
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
        EXPECT_EQ(static_cast<long long>(yyjson_arr_size(yyjson_obj_get(i.root, "redirects"))), c.redirects);
        EXPECT_STREQ(json_str(i.root, "http_version"), c.version) << c.config;
    }
    EXPECT_EQ(api_request("not json"), 0);
    EXPECT_STREQ(api_response_info_json(), "{}");
}

}  // namespace
