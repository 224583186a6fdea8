// What the library makes of the answers: status, headers JSON, body, timing.
#include <cstdio>
#include <string>

#include "request/request_fixture.h"

namespace {

using namespace std::string_literals;

TEST_F(RequestTest, ErrorStatusesAreSuccessfulTransfers) {
    for (int status : {404, 500}) {
        server.enqueue(http_response(status, "oops", "X-Why: because\r\n"));
        ASSERT_EQ(send(R"({"url":"$B/s"})"), 1);
        EXPECT_EQ(api_response_status(), status);
        EXPECT_STREQ(api_response_body(), "oops");
        EXPECT_NE(std::string(api_response_headers_json()).find(R"("x-why":"because")"), std::string::npos);
    }
}

TEST_F(RequestTest, HeaderLinesBecomeOneJsonObject) {
    server.enqueue(
        "HTTP/1.1 200 OK\r\n"
        "Content-Type: application/json\r\n"
        "Set-Cookie: a=1\r\n"
        "Set-Cookie: b=2\r\n"
        "X-Empty:\r\n"
        ": no-name\r\n"
        "X-Spaces:   inner  blanks   \r\n"
        "X-Tabs:\tframed\t\r\n"
        "X-Colons: a:b:c\r\n"
        "Content-Length: 0\r\nConnection: close\r\n\r\n");
    ASSERT_EQ(send(R"({"url":"$B/h"})"), 1);
    EXPECT_STREQ(api_response_headers_json(),
                 R"({"content-type":"application/json","set-cookie":"a=1","set-cookie":"b=2",)"
                 R"("x-empty":"","":"no-name","x-spaces":"inner  blanks","x-tabs":"\tframed\t",)"
                 R"("x-colons":"a:b:c","content-length":"0","connection":"close"})");
}

TEST_F(RequestTest, OddHeaderBytesKeepTheHeadersJsonReadable) {
    // A value that is not UTF-8 is read as ISO-8859-1.
    server.enqueue("HTTP/1.1 200 OK\r\nX-Latin: caf\xe9\r\nX-Utf8: caf\xc3\xa9\r\nContent-Length: 0\r\n\r\n");
    ASSERT_EQ(send(R"({"url":"$B/l"})"), 1);
    EXPECT_STREQ(api_response_headers_json(),
                 "{\"x-latin\":\"caf\xc3\xa9\",\"x-utf8\":\"caf\xc3\xa9\",\"content-length\":\"0\"}");

    // A line over 4095 bytes is cut, never inside a character.
    for (std::size_t pad : {4081u, 4082u, 4083u}) {
        std::string value = std::string(pad, 'v') + "\xe2\x82\xac\xe2\x82\xac";  // two euro signs
        server.enqueue("HTTP/1.1 200 OK\r\nX-Long: " + value + "\r\nContent-Length: 0\r\n\r\n");
        ASSERT_EQ(send(R"({"url":"$B/long"})"), 1);
        std::string json = api_response_headers_json();
        ASSERT_NE(json, "{}") << pad;
        std::size_t room = 4095 - std::string("X-Long: ").size();
        std::size_t kept = pad + ((room - pad) / 3) * 3;
        std::string expected_value = value.substr(0, kept);
        EXPECT_NE(json.find("\"x-long\":\"" + expected_value + "\""), std::string::npos) << pad;
    }
}

TEST_F(RequestTest, BodyKeepsEveryByte) {
    std::string with_nul = "before\0after"s;
    server.enqueue(http_response(200, with_nul));
    ASSERT_EQ(send(R"({"url":"$B/n"})"), 1);
    EXPECT_STREQ(api_response_body(), "before");

    std::string big(5 * 1024 * 1024 + 7, 'x');
    for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + (i / 4096) % 26);
    server.enqueue(http_response(200, big));
    ASSERT_EQ(send(R"({"url":"$B/big"})"), 1);
    EXPECT_EQ(std::string(api_response_body()), big);
}

TEST_F(RequestTest, HeadCollectsHeadersWithoutBody) {
    server.enqueue("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nX-H: 1\r\n\r\n");
    ASSERT_EQ(send(R"({"url":"$B/head","method":"HEAD"})"), 1);
    EXPECT_STREQ(api_response_body(), "");
    EXPECT_STREQ(api_response_headers_json(), R"({"content-length":"10","x-h":"1"})");
}

TEST_F(RequestTest, TimingJsonHasItsMembersInOrder) {
    server.enqueue(http_response(200, "12345"));
    ASSERT_EQ(send(R"({"url":"$B/t"})"), 1);
    long long dns = -1, connect = -1, tls = -1, ttfb = -1, total = -1, bytes = -1;
    int end = 0;
    const char *json = api_response_time_json();
    ASSERT_EQ(std::sscanf(json, R"({"dns_ms":%lld,"connect_ms":%lld,"tls_ms":%lld,"ttfb_ms":%lld,"total_ms":%lld,"bytes":%lld}%n)",
                          &dns, &connect, &tls, &ttfb, &total, &bytes, &end),
              6)
        << json;
    EXPECT_EQ(json[end], '\0') << json;
    EXPECT_EQ(bytes, 5);
    // Each time includes the phases before it; there is no handshake over plain HTTP.
    EXPECT_LE(dns, connect);
    if (over_tls()) {
        EXPECT_LE(connect, tls);
        EXPECT_LE(tls, ttfb);
    } else {
        EXPECT_EQ(tls, 0);
    }
    EXPECT_LE(connect, ttfb);
    EXPECT_LE(ttfb, total);
}

TEST_F(RequestTest, NextRequestForgetsThePreviousResponse) {
    server.enqueue(http_response(201, "first", "X-First: 1\r\n"));
    ASSERT_EQ(send(R"({"url":"$B/1"})"), 1);
    ASSERT_EQ(api_response_status(), 201);

    EXPECT_EQ(api_request("not json"), 0);
    EXPECT_STREQ(api_last_error(), "api_request: invalid JSON in config_json");
    EXPECT_EQ(api_response_status(), 0);
    EXPECT_STREQ(api_response_headers_json(), "{}");
    EXPECT_STREQ(api_response_time_json(), "{}");
    EXPECT_STREQ(api_response_body(), "");
}

TEST(RequestLifecycle, BeforeAnyRequestAndWithoutInit) {
    api_cleanup();
    EXPECT_STREQ(api_response_body(), "");
    EXPECT_STREQ(api_response_headers_json(), "{}");
    EXPECT_STREQ(api_response_time_json(), "{}");
    EXPECT_EQ(api_response_status(), 0);

    // A host that never calls api_init still gets a working library.
    HttpServer server;
    server.enqueue(http_response(200, "lazy"));
    std::string config = R"({"url":")" + server.url("/lazy") + "\"}";
    ASSERT_EQ(api_request(config.c_str()), 1);
    EXPECT_STREQ(api_response_body(), "lazy");
    EXPECT_EQ(api_history_count(), 0);
    api_cleanup();
}

}  // namespace
