// A local HTTP(S) server for tests, benchmarks and the demo. It listens on
// 127.0.0.1 (an ephemeral port unless one is given), records every request
// byte for byte and answers with scripted raw bytes, closing the connection
// after each answer unless asked to keep it. HTTPS mode uses a self-signed
// certificate for 127.0.0.1 made at run time: clients switch verification
// off, or trust certificate_pem().
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HttpRequest {
    std::string raw;      // request line, header lines, blank line, body: as received
    std::string method;
    std::string target;   // as on the request line, query included
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // arrival order, values trimmed
    std::string body;     // de-chunked when sent chunked
    std::size_t connection = 0;  // serial number of the connection it came on, from 1
    std::string client_cert_cn;  // CN of the client's TLS certificate, "" when none
    bool tls_resumed = false;    // the TLS handshake resumed an earlier session

    std::string path() const;  // target without its query
    // Value of the first header of that name (ASCII case-insensitive), or "".
    std::string header(std::string_view name) const;
    std::size_t header_count(std::string_view name) const;
};

// Exact bytes to answer with, sent after an optional delay, at once or in
// pieces with a pause after each. Neither wait holds up the server's shutdown.
struct HttpReply {
    std::shared_ptr<const std::string> bytes;
    std::chrono::milliseconds delay{0};
    std::size_t piece = 0;  // 0: all at once
    std::chrono::milliseconds pause{0};

    HttpReply(std::string raw, std::chrono::milliseconds wait = {});
    HttpReply(const char *raw, std::chrono::milliseconds wait = {});
    // Shares one prebuilt buffer between many replies (large bodies).
    HttpReply(std::shared_ptr<const std::string> raw, std::chrono::milliseconds wait = {});
};

using HttpHandler = std::function<HttpReply(const HttpRequest &)>;

// "HTTP/1.1 <status> <reason>\r\n" + headers + "Content-Length: <n>\r\n"
// "Connection: close\r\n\r\n" + body. Each line in `headers` ends in "\r\n".
std::string http_response(int status, std::string_view body = {}, std::string_view headers = {});
// The same without "Connection: close", for a server that keeps connections.
std::string http_keep_alive_response(int status, std::string_view body = {}, std::string_view headers = {});

// A reply sent `piece` bytes at a time with `pause` after each piece.
HttpReply trickled(std::string raw, std::size_t piece, std::chrono::milliseconds pause);

struct HttpServerOptions {
    bool tls = false;
    int port = 0;  // 0: any free port
    // Read further requests on a connection until the client closes it or a
    // reply says "Connection: close".
    bool keep_alive = false;
    // Ask TLS clients for a certificate (any is accepted; see client_cert_cn).
    bool ask_client_cert = false;
};

// Choosing the answer to a request: the route of its path if there is one,
// else the oldest queued reply, else the default reply (200, empty body).
// Every member function may be called from any thread.
class HttpServer {
public:
    explicit HttpServer(HttpServerOptions options = {});  // throws when it cannot listen
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Stops listening, drops open connections and joins every thread; also
    // done by the destructor. Safe to call more than once.
    void stop();

    int port() const;
    const std::string &base_url() const;         // "http://127.0.0.1:<port>", or https
    std::string url(std::string_view path) const;  // base_url() + path
    const std::string &certificate_pem() const;    // HTTPS mode; "" otherwise

    void enqueue(HttpReply reply);
    void route(std::string path, HttpHandler handler);  // exact path, query ignored
    void set_default(HttpReply reply);

    // Requests fully received so far, oldest first. A request is recorded
    // before it is answered, so it is here once the client has its answer.
    std::vector<HttpRequest> requests() const;
    std::size_t request_count() const;
    void clear_requests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
