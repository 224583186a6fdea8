// A small local API for the demo: prints its port on the first line of
// standard output, then serves until SIGINT or SIGTERM, or for the given
// number of seconds.
//   GET  /users/42  a user as JSON
//   POST /echo      the method, Authorization, Content-Type and JSON body back
// Usage: demo_server [port (0: any free one)] [seconds (0: until a signal)]
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <string>

#include <yyjson.h>

#include "support/http_server.h"

namespace {

const char *const json_type = "Content-Type: application/json\r\n";

std::string echo_json(const HttpRequest &req) {
    std::unique_ptr<yyjson_mut_doc, decltype(&yyjson_mut_doc_free)> doc(yyjson_mut_doc_new(nullptr),
                                                                         yyjson_mut_doc_free);
    yyjson_mut_val *root = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), root);
    yyjson_mut_obj_add_strcpy(doc.get(), root, "method", req.method.c_str());
    yyjson_mut_obj_add_strcpy(doc.get(), root, "authorization", req.header("Authorization").c_str());
    yyjson_mut_obj_add_strcpy(doc.get(), root, "content_type", req.header("Content-Type").c_str());
    // A body that is not JSON comes back as a string.
    yyjson_doc *body = yyjson_read(req.body.data(), req.body.size(), 0);
    yyjson_mut_val *json = body ? yyjson_val_mut_copy(doc.get(), yyjson_doc_get_root(body))
                                : yyjson_mut_strncpy(doc.get(), req.body.data(), req.body.size());
    yyjson_doc_free(body);
    yyjson_mut_obj_add_val(doc.get(), root, body ? "json" : "body", json);
    char *text = yyjson_mut_write(doc.get(), 0, nullptr);
    std::string out = text ? text : "{}";
    std::free(text);
    return out;
}

void log_request(const HttpRequest &req) {
    std::fprintf(stderr, "demo_server: %s %s\n", req.method.c_str(), req.target.c_str());
}

int serve(int port, long seconds) {
    // Block the stop signals before the server's threads start, so that they
    // inherit the mask and only sigtimedwait below receives them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    HttpServer server({.tls = false, .port = port});
    server.set_default(http_response(404, R"({"error":"not found"})", json_type));
    server.route("/users/42", [](const HttpRequest &req) {
        log_request(req);
        if (req.method != "GET") return HttpReply(http_response(405, R"({"error":"use GET"})", json_type));
        return HttpReply(http_response(
            200, R"({"id":42,"name":"Ada Lovelace","email":"ada@example.com","roles":["admin","author"]})",
            json_type));
    });
    server.route("/echo", [](const HttpRequest &req) {
        log_request(req);
        return HttpReply(http_response(200, echo_json(req), json_type));
    });
    std::printf("%d\n", server.port());
    std::fflush(stdout);

    timespec limit{seconds, 0};
    while (sigtimedwait(&stop_signals, nullptr, seconds > 0 ? &limit : nullptr) < 0 && errno == EINTR) {
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    int port = argc > 1 ? std::atoi(argv[1]) : 0;
    long seconds = argc > 2 ? std::atol(argv[2]) : 0;
    try {
        return serve(port, seconds);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "demo_server: %s\n", e.what());
        return 1;
    }
}
