// A recording server, a collection that covers what a run must carry, and a
// scratch directory for each test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_process.h"

// Folders Users (List users), Users/Admin (Delete user), Orders (Create order,
// Fail), and Health at the top; collection variables, bearer auth inherited
// from the collection, a test script on List users. /fail answers 500.
extern const char *const shop_collection;
// A Postman environment file: who, sku, trace, token, and a disabled entry.
extern const char *const shop_environment;

class CliTest : public ::testing::Test {
protected:
    CliTest();

    Outcome quorvane(const std::vector<std::string> &args, const std::map<std::string, std::string> &env = {}) {
        return run_quorvane(args, dir_.path(), home_.path(), env);
    }
    // The shop collection and environment written into the scratch directory.
    std::string shop() const { return dir_.file("shop.json"); }
    std::string shop_env() const { return dir_.file("env.json"); }
    std::string base_var() const { return "base=" + server_.base_url(); }

    TempDir dir_;
    TempDir home_;
    HttpServer server_;
};
