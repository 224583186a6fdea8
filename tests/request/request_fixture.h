// Shared set-up for request tests: an initialised library and a local server.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "quorvane_apiclient.h"
#include "support/library_fixture.h"
#include "support/http_server.h"

// With QV_TEST_TLS=1 in the environment the server speaks HTTPS and every
// config sent asks for no verification of its self-signed certificate: the
// Windows build runs the request tests a second time so, for Schannel to
// carry redirects, time-outs, uploads and captures too.
class RequestTest : public LibraryTest {
protected:
    static bool over_tls() {
        const char *tls = std::getenv("QV_TEST_TLS");
        return tls && std::string(tls) == "1";
    }

    // Sends a config in which every "$B" stands for the server's base URL.
    int send(std::string config) {
        for (std::size_t at; (at = config.find("$B")) != std::string::npos;) {
            config.replace(at, 2, server.base_url());
        }
        if (over_tls() && config.starts_with("{\"")) config.insert(1, R"("insecure":1,)");
        return api_request(config.c_str());
    }

    HttpRequest last_request() {
        auto all = server.requests();
        return all.empty() ? HttpRequest{} : all.back();
    }

    HttpServer server{HttpServerOptions{over_tls(), 0}};
};
