// Every test that uses the library's state starts from an initialised library
// without a storage directory and ends with api_cleanup, so that no test sees
// another's environment, history, collection or response.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "quorvane_apiclient.h"
#include "support/json.h"

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(api_init(nullptr), 1) << api_last_error(); }
    void TearDown() override { api_cleanup(); }
};

// Whether the last transfer went over a kept connection.
inline bool reused() {
    JsonDoc doc = parse_json(api_response_info_json());
    return yyjson_get_bool(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "connection_reused"));
}

// A config for `url`, with `extra` members (",\"name\":value") after it.
inline std::string url_config(const std::string &url, const std::string &extra = "") {
    return R"({"url":")" + url + "\"" + extra + "}";
}
