// Shared set-up for request tests: an initialised library and a local server.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "quorvane_apiclient.h"
#include "support/library_fixture.h"
#include "support/http_server.h"

class RequestTest : public LibraryTest {
protected:

    // Sends a config in which every "$B" stands for the server's base URL.
    int send(std::string config) {
        for (std::size_t at; (at = config.find("$B")) != std::string::npos;) {
            config.replace(at, 2, server.base_url());
        }
        return api_request(config.c_str());
    }

    HttpRequest last_request() {
        auto all = server.requests();
        return all.empty() ? HttpRequest{} : all.back();
    }

    HttpServer server;
};
