// What the other request tests do not reach: chunked requests sent in pieces,
// and large uploads behind "Expect: 100-continue".
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "request/request_fixture.h"

namespace {

TEST(HttpServerSelftest, DecodesAChunkedRequestSentInPiecesAndKeepsItRaw) {
    HttpServer server;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{.sin_family = AF_INET, .sin_port = htons(static_cast<uint16_t>(server.port())),
                     .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const std::string head = "PUT /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\nX-A:  1 \r\n\r\n";
    const std::string chunks = "4\r\nWiki\r\n5;ext=1\r\npedia\r\n0\r\nX-Trailer: t\r\n\r\n";
    for (const std::string &piece : {head + chunks.substr(0, 9), chunks.substr(9)}) ::send(fd, piece.data(), piece.size(), 0);
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
    close(fd);
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
