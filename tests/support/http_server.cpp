#include "support/http_server.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "support/server_tls.h"
#include "support/sockets.h"

namespace {

constexpr std::size_t read_chunk = 64 * 1024;
constexpr std::size_t max_head = 1 << 20;
constexpr std::size_t incomplete = std::string::npos;
constexpr std::size_t malformed = incomplete - 1;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool icontains(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (iequals(text.substr(i, word.size()), word)) return true;
    }
    return false;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Request line and header lines, without the blank line that ends them.
bool parse_head(std::string_view head, HttpRequest &req) {
    std::size_t eol = head.find("\r\n");
    std::string_view line = head.substr(0, eol);
    std::size_t sp1 = line.find(' ');
    std::size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) return false;
    req.method = line.substr(0, sp1);
    req.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    req.version = line.substr(sp2 + 1);
    while (eol != std::string_view::npos) {
        std::size_t start = eol + 2;
        eol = head.find("\r\n", start);
        line = head.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return false;
        req.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
    }
    return true;
}

// Size in bytes of a complete chunked body at the start of `data`, through
// the blank line after the trailers, with the decoded bytes in `body`.
std::size_t chunked_size(std::string_view data, std::string &body) {
    body.clear();
    std::size_t pos = 0;
    for (;;) {
        std::size_t eol = data.find("\r\n", pos);
        if (eol == std::string_view::npos) return incomplete;
        std::string size_text(data.substr(pos, eol - pos));
        char *end = nullptr;
        unsigned long long size = std::strtoull(size_text.c_str(), &end, 16);
        if (end == size_text.c_str() || (*end != '\0' && *end != ';' && *end != ' ')) return malformed;
        pos = eol + 2;
        if (size == 0) break;
        if (data.size() < pos + size + 2) return incomplete;
        body.append(data.substr(pos, size));
        pos += size + 2;
    }
    for (;;) {  // trailer lines, then the blank line
        std::size_t eol = data.find("\r\n", pos);
        if (eol == std::string_view::npos) return incomplete;
        if (eol == pos) return pos + 2;
        pos = eol + 2;
    }
}

// One accepted connection, plain or TLS, with blocking I/O. Shutting the
// socket down from another thread ends any call blocked on it.
struct Peer {
    socket_t fd;
    TlsConnection *tls;  // null: plain

    bool fill(std::string &pending) {
        char buf[read_chunk];
        long n = tls ? tls->read(buf, sizeof buf) : recv_some(fd, buf, sizeof buf);
        if (n <= 0) return false;
        pending.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    bool write_all(std::string_view data) {
        while (!data.empty()) {
            std::size_t part = std::min<std::size_t>(data.size(), 1 << 30);
            long n = tls ? tls->write(data.data(), part) : send_some(fd, data.data(), part);
            if (n <= 0) return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
};

std::optional<HttpRequest> read_request(Peer &peer, std::string &pending) {
    std::size_t head_end;
    while ((head_end = pending.find("\r\n\r\n")) == std::string::npos) {
        if (pending.size() > max_head || !peer.fill(pending)) return std::nullopt;
    }
    HttpRequest req;
    if (!parse_head(std::string_view(pending).substr(0, head_end), req)) return std::nullopt;
    std::size_t body_start = head_end + 4;
    if (iequals(req.header("Expect"), "100-continue")) peer.write_all("HTTP/1.1 100 Continue\r\n\r\n");

    std::size_t total;
    if (icontains(req.header("Transfer-Encoding"), "chunked")) {
        std::size_t n;
        while ((n = chunked_size(std::string_view(pending).substr(body_start), req.body)) == incomplete) {
            if (!peer.fill(pending)) return std::nullopt;
        }
        if (n == malformed) return std::nullopt;
        total = body_start + n;
    } else {
        std::size_t length = std::strtoull(req.header("Content-Length").c_str(), nullptr, 10);
        total = body_start + length;
        pending.reserve(total);
        while (pending.size() < total) {
            if (!peer.fill(pending)) return std::nullopt;
        }
        req.body = pending.substr(body_start, length);
    }
    req.raw = pending.substr(0, total);
    return req;
}

// Reads until the client closes (or a second passes), so that closing our
// end never resets the connection while the answer is still in flight.
void drain(socket_t fd) {
    set_recv_timeout(fd, 1000);
    char buf[4096];
    while (recv_some(fd, buf, sizeof buf) > 0) {
    }
}

const char *reason_phrase(int status) {
    static const std::map<int, const char *> phrases = {
        {100, "Continue"}, {200, "OK"}, {201, "Created"}, {204, "No Content"},
        {301, "Moved Permanently"}, {302, "Found"}, {303, "See Other"},
        {307, "Temporary Redirect"}, {308, "Permanent Redirect"}, {400, "Bad Request"},
        {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"},
        {405, "Method Not Allowed"}, {500, "Internal Server Error"}, {503, "Service Unavailable"}};
    auto it = phrases.find(status);
    return it == phrases.end() ? "Status" : it->second;
}

}  // namespace

std::string HttpRequest::path() const { return target.substr(0, target.find('?')); }

std::string HttpRequest::header(std::string_view name) const {
    for (const auto &[key, value] : headers) {
        if (iequals(key, name)) return value;
    }
    return {};
}

std::size_t HttpRequest::header_count(std::string_view name) const {
    std::size_t n = 0;
    for (const auto &header : headers) n += iequals(header.first, name) ? 1 : 0;
    return n;
}

HttpReply::HttpReply(std::string raw, std::chrono::milliseconds wait)
    : bytes(std::make_shared<const std::string>(std::move(raw))), delay(wait) {}
HttpReply::HttpReply(const char *raw, std::chrono::milliseconds wait) : HttpReply(std::string(raw), wait) {}
HttpReply::HttpReply(std::shared_ptr<const std::string> raw, std::chrono::milliseconds wait)
    : bytes(std::move(raw)), delay(wait) {}

HttpReply trickled(std::string raw, std::size_t piece, std::chrono::milliseconds pause) {
    HttpReply reply(std::move(raw));
    reply.piece = piece;
    reply.pause = pause;
    return reply;
}

namespace {
std::string response_head(int status, std::size_t length, std::string_view headers, bool close) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason_phrase(status) + "\r\n";
    out.append(headers);
    out += "Content-Length: " + std::to_string(length) + "\r\n";
    if (close) out += "Connection: close\r\n";
    return out + "\r\n";
}
}  // namespace

std::string http_keep_alive_response(int status, std::string_view body, std::string_view headers) {
    return response_head(status, body.size(), headers, false).append(body);
}

std::string http_response(int status, std::string_view body, std::string_view headers) {
    return response_head(status, body.size(), headers, true).append(body);
}

struct HttpServer::Impl {
    socket_t listen_fd = no_socket;
    int port = 0;         // where the listener is
    int public_port = 0;  // where clients connect: the relay's port under Windows TLS
    std::string base_url;
    std::unique_ptr<ServerTls> tls;
    std::string cert_pem;
    bool keep_alive = false;
    std::atomic<std::size_t> connections{0};
    std::thread acceptor;
    std::once_flag stopped;

    mutable std::mutex mutex;
    std::condition_variable stopping_cv;
    bool stopping = false;
    std::set<socket_t> open_fds;
    std::vector<HttpRequest> requests;
    std::deque<HttpReply> queue;
    std::map<std::string, HttpHandler, std::less<>> routes;
    HttpReply fallback{http_response(200)};

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers;  // only the acceptor touches it until it is joined

    ~Impl() {
        tls.reset();
        if (listen_fd != no_socket) close_socket(listen_fd);
    }

    void listen_on(int wanted_port) {
        listen_fd = listen_loopback(wanted_port, port);
        if (listen_fd == no_socket) throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(wanted_port));
    }

    // stop() wakes the blocked accept by connecting once itself.
    void accept_loop() {
        for (;;) {
            socket_t fd = accept_connection(listen_fd);
            {
                std::lock_guard lock(mutex);
                if (stopping) {
                    if (fd != no_socket) close_socket(fd);
                    return;
                }
                if (fd == no_socket) continue;
                open_fds.insert(fd);
            }
            set_send_timeout(fd, 10000);
            std::erase_if(workers, [](Worker &w) {
                if (!*w.done) return false;
                w.thread.join();
                return true;
            });
            auto done = std::make_shared<std::atomic<bool>>(false);
            workers.push_back({std::thread([this, fd, done] {
                                   serve(fd);
                                   *done = true;
                               }),
                               done});
        }
    }

    void serve(socket_t fd) {
        std::unique_ptr<TlsConnection> conn;
        if (!tls || tls->accept(fd, conn)) exchange(Peer{fd, conn.get()}, ++connections);
        conn.reset();
        {
            std::lock_guard lock(mutex);
            open_fds.erase(fd);
        }
        close_socket(fd);
    }

    // False when the server stops while waiting.
    bool wait_for(std::chrono::milliseconds delay) {
        std::unique_lock lock(mutex);
        return !stopping_cv.wait_for(lock, delay, [this] { return stopping; });
    }

    bool send_reply(Peer &peer, const HttpReply &reply) {
        if (!wait_for(reply.delay)) return false;
        std::string_view rest(*reply.bytes);
        std::size_t piece = reply.piece ? reply.piece : rest.size();
        while (!rest.empty()) {
            std::size_t n = std::min(piece, rest.size());
            if (!peer.write_all(rest.substr(0, n))) return false;
            rest.remove_prefix(n);
            if (!rest.empty() && !wait_for(reply.pause)) return false;
        }
        return true;
    }

    void exchange(Peer peer, std::size_t connection) {
        std::string pending;
        for (;;) {
            std::optional<HttpRequest> req = read_request(peer, pending);
            if (!req) return;
            pending.erase(0, req->raw.size());
            req->connection = connection;
            if (peer.tls) {
                req->client_cert_cn = peer.tls->client_cert_cn();
                req->tls_resumed = peer.tls->resumed();
            }
            HttpReply reply = answer_to(*req);
            if (!send_reply(peer, reply)) return;
            std::string_view head(*reply.bytes);
            head = head.substr(0, head.find("\r\n\r\n"));
            if (!keep_alive || icontains(head, "Connection: close")) break;
        }
        if (peer.tls) peer.tls->close_notify();
        shutdown_send(peer.fd);
        drain(peer.fd);
    }

    HttpReply answer_to(const HttpRequest &req) {
        HttpHandler handler;
        {
            std::lock_guard lock(mutex);
            requests.push_back(req);
            auto route = routes.find(req.path());
            if (route != routes.end()) {
                handler = route->second;
            } else if (!queue.empty()) {
                HttpReply next = std::move(queue.front());
                queue.pop_front();
                return next;
            } else {
                return fallback;
            }
        }
        return handler(req);  // unlocked: a handler may call back into the server
    }
};

HttpServer::HttpServer(HttpServerOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->listen_on(options.port);
    impl_->keep_alive = options.keep_alive;
    if (options.tls) {
        impl_->tls = ServerTls::start(impl_->port, options.ask_client_cert);
        impl_->cert_pem = impl_->tls->certificate_pem();
    }
    impl_->public_port = impl_->tls ? impl_->tls->port() : impl_->port;
    impl_->base_url = std::string(options.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->public_port);
    impl_->acceptor = std::thread([this] { impl_->accept_loop(); });
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::stop() {
    Impl &s = *impl_;
    std::call_once(s.stopped, [&s] {
        {
            std::lock_guard lock(s.mutex);
            s.stopping = true;
            for (socket_t fd : s.open_fds) shutdown_both(fd);
        }
        s.stopping_cv.notify_all();
        socket_t wake = connect_loopback(s.port);
        if (wake != no_socket) close_socket(wake);
        if (s.acceptor.joinable()) s.acceptor.join();
        for (auto &worker : s.workers) worker.thread.join();
        s.workers.clear();
    });
}

int HttpServer::port() const { return impl_->public_port; }
const std::string &HttpServer::base_url() const { return impl_->base_url; }
std::string HttpServer::url(std::string_view path) const { return impl_->base_url + std::string(path); }
const std::string &HttpServer::certificate_pem() const { return impl_->cert_pem; }

void HttpServer::enqueue(HttpReply reply) {
    std::lock_guard lock(impl_->mutex);
    impl_->queue.push_back(std::move(reply));
}

void HttpServer::route(std::string path, HttpHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[std::move(path)] = std::move(handler);
}

void HttpServer::set_default(HttpReply reply) {
    std::lock_guard lock(impl_->mutex);
    impl_->fallback = std::move(reply);
}

std::vector<HttpRequest> HttpServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::size_t HttpServer::request_count() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests.size();
}

void HttpServer::clear_requests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}
