// What the other request tests do not reach: chunked requests sent in pieces,
// and large uploads behind "Expect: 100-continue".
#include <string>

#include "request/request_fixture.h"
#include "support/sockets.h"

namespace {

TEST(HttpServerSelftest, DecodesAChunkedRequestSentInPiecesAndKeepsItRaw) {
    HttpServer server;
    socket_t fd = connect_loopback(server.port());
    ASSERT_NE(fd, no_socket);
    const std::string head = "PUT /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\nX-A:  1 \r\n\r\n";
    const std::string chunks = "4\r\nWiki\r\n5;ext=1\r\npedia\r\n0\r\nX-Trailer: t\r\n\r\n";
    for (const std::string &piece : {head + chunks.substr(0, 9), chunks.substr(9)}) send_all(fd, piece.data(), piece.size());
    std::string answer;
    char buf[4096];
    for (long n; (n = recv_some(fd, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
    close_socket(fd);
    EXPECT_EQ(answer, http_response(200));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, head + chunks);
    EXPECT_EQ(requests[0].header("x-a"), "1");
    EXPECT_EQ(requests[0].body, "Wikipedia");
}

class HttpServerSelftestUpload : public RequestTest {};

// Past 1 MiB libcurl asks to continue before it sends the body.
TEST_F(HttpServerSelftestUpload, LargeBodyArrivesWholeBehindExpectContinue) {
    std::string big((1 << 20) + 1, 'x');
    for (std::size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(send(R"({"url":"$B/up","method":"POST","body":")" + big + "\"}"), 1) << api_last_error();
    EXPECT_EQ(last_request().header("Expect"), "100-continue");
    EXPECT_TRUE(last_request().body == big);
}

}  // namespace
