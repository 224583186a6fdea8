// Checks of the local test server itself, through plain libcurl and raw
// sockets, so that request tests can trust what it records and sends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/http_server.h"

namespace {

using namespace std::chrono_literals;

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

size_t append_body(char *data, size_t size, size_t count, void *out) {
    static_cast<std::string *>(out)->append(data, size * count);
    return size * count;
}

Fetched fetch(const std::string &url, const std::function<void(CURL *)> &configure = {}) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
    Fetched out;
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, append_body);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &out.body);
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, 30L);
    if (configure) configure(easy.get());
    out.code = curl_easy_perform(easy.get());
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &out.status);
    return out;
}

// Sends the pieces one write at a time and returns all the server answers.
std::string exchange_raw(int port, const std::vector<std::string> &pieces) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    for (const auto &piece : pieces) send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
    close(fd);
    return answer;
}

TEST(HttpServerSelftest, RecordsSplitRawRequestExactly) {
    HttpServer server;
    const std::vector<std::string> pieces = {"POST /items?x=1 HTTP/1.1\r\nHost: h\r\nX-B: 2\r\nX-",
                                             "A:  1 \r\nContent-Length: 5\r\n\r\nhe", "llo"};
    EXPECT_EQ(exchange_raw(server.port(), pieces), http_response(200));

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const HttpRequest &req = requests[0];
    EXPECT_EQ(req.raw, pieces[0] + pieces[1] + pieces[2]);
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.target, "/items?x=1");
    EXPECT_EQ(req.path(), "/items");
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(req.headers, (Headers{{"Host", "h"}, {"X-B", "2"}, {"X-A", "1"}, {"Content-Length", "5"}}));
    EXPECT_EQ(req.header("x-a"), "1");
    EXPECT_EQ(req.body, "hello");
}

TEST(HttpServerSelftest, DecodesChunkedBodyAndKeepsItRaw) {
    HttpServer server;
    const std::string head = "PUT /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string chunks = "4\r\nWiki\r\n5;ext=1\r\npedia\r\n0\r\nX-Trailer: t\r\n\r\n";
    exchange_raw(server.port(), {head + chunks.substr(0, 9), chunks.substr(9)});

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, head + chunks);
    EXPECT_EQ(requests[0].body, "Wikipedia");
}

TEST(HttpServerSelftest, RecordsCurlRequestByteForByte) {
    HttpServer server;
    curl_slist *headers = curl_slist_append(nullptr, "X-One: 1");
    fetch(server.url("/p?q=1"), [&](CURL *easy) { curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers); });
    curl_slist_free_all(headers);

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, "GET /p?q=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                                   "\r\nAccept: */*\r\nX-One: 1\r\n\r\n");
}

TEST(HttpServerSelftest, ServesQueuedRepliesInOrderThenTheDefault) {
    HttpServer server;
    server.enqueue(http_response(201, "a", "X-Tag: one\r\n"));
    server.enqueue("HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nb");
    server.enqueue("HTTP/1.1 200 OK\r\n\r\nends at close");
    const std::vector<std::pair<long, std::string>> expected = {
        {201, "a"}, {404, "b"}, {200, "ends at close"}, {200, ""}, {418, "tea"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i == 4) server.set_default(http_response(418, "tea"));
        Fetched got = fetch(server.url("/"));
        EXPECT_EQ(got.code, CURLE_OK) << i;
        EXPECT_EQ(got.status, expected[i].first) << i;
        EXPECT_EQ(got.body, expected[i].second) << i;
    }
    EXPECT_EQ(server.request_count(), expected.size());
    server.clear_requests();
    EXPECT_EQ(server.request_count(), 0u);
}

TEST(HttpServerSelftest, RoutesFollowARedirectChainBeforeTheQueue) {
    HttpServer server;
    server.enqueue(http_response(500, "queued"));
    server.route("/start", [](const HttpRequest &) { return http_response(302, "", "Location: /final\r\n"); });
    server.route("/final", [](const HttpRequest &req) { return http_response(200, "at " + req.target); });
    Fetched got = fetch(server.url("/start?a=1"),
                        [](CURL *easy) { curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L); });
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, "at /final");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/start?a=1");
    EXPECT_EQ(requests[1].target, "/final");
    EXPECT_EQ(fetch(server.url("/other")).body, "queued");
}

TEST(HttpServerSelftest, AnswersExpectContinueAndMovesLargeBodies) {
    HttpServer server;
    std::string big(3 << 20, 'x');
    for (std::size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('a' + i % 26);
    server.enqueue(http_response(200, big));
    // Without "100 Continue" curl would hold the body back past its time-out.
    Fetched got = fetch(server.url("/upload"), [&](CURL *easy) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, big.c_str());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(big.size()));
        curl_easy_setopt(easy, CURLOPT_EXPECT_100_TIMEOUT_MS, 60000L);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, 20L);
    });
    EXPECT_EQ(got.code, CURLE_OK);
    EXPECT_TRUE(got.body == big);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Expect"), "100-continue");
    EXPECT_TRUE(requests[0].body == big);
}

TEST(HttpServerSelftest, HttpsWorksOnlyWithoutPeerVerification) {
    HttpServer server({.tls = true});
    ASSERT_EQ(server.base_url().rfind("https://127.0.0.1:", 0), 0u);
    auto big = std::make_shared<const std::string>(http_response(200, std::string(5 << 20, 's')));
    server.set_default(big);

    EXPECT_EQ(fetch(server.url("/")).code, CURLE_PEER_FAILED_VERIFICATION);
    // The certificate names 127.0.0.1, so host checking alone passes.
    Fetched got = fetch(server.url("/secure"), [](CURL *easy) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    });
    EXPECT_EQ(got.code, CURLE_OK);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body.size(), 5u << 20);
    EXPECT_EQ(server.requests().back().target, "/secure");
}

TEST(HttpServerSelftest, DelaysRepliesWithoutHoldingShutdown) {
    HttpServer server;
    server.enqueue(HttpReply(http_response(200, "late"), 100ms));
    auto start = std::chrono::steady_clock::now();
    Fetched late = fetch(server.url("/"));
    EXPECT_EQ(late.body, "late");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);

    // A reply held back for ten minutes: stopping must not wait for it.
    server.enqueue(HttpReply(http_response(200), 10min));
    Fetched cut = fetch(server.url("/"), [](CURL *easy) { curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 200L); });
    EXPECT_EQ(cut.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(server.request_count(), 2u);
    server.enqueue(HttpReply(http_response(200), 10min));
    std::thread waiting_client([&] { fetch(server.url("/")); });
    while (server.request_count() < 3) std::this_thread::yield();
    server.stop();
    waiting_client.join();
    server.stop();
}

TEST(HttpServerSelftest, ManyServersRunSideBySide) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i] {
            HttpServer server({.tls = i % 2 == 1});
            server.set_default(http_response(200, std::to_string(i)));
            Fetched got = fetch(server.url("/"), [](CURL *easy) {
                curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
                curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
            });
            EXPECT_EQ(got.body, std::to_string(i));
        });
    }
    for (auto &t : threads) t.join();
}

}  // namespace
