// Files exchanged with the format's own tools: the postman-collection SDK and
// newman, installed into tests/interop by scripts/interop-install.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "postman/interop_tools.h"
#include "quorvane_apiclient.h"
#include "support/library_fixture.h"
#include "support/temp_dir.h"
#include "support/json.h"

namespace {

class PostmanInterop : public LibraryTest {
protected:
    void SetUp() override {
        SKIP_OR_FAIL_WITHOUT_INTEROP_TOOLS();
        LibraryTest::SetUp();
    }

    TempDir dir_;
};

TEST_F(PostmanInterop, ImportsCollectionBuiltWithTheSdk) {
    std::string path = dir_.file("sdk.json");
    run_interop_script("sdk_collection.js", shell_quote(path));
    ASSERT_EQ(api_import_postman(path.c_str()), 1) << api_last_error();
    // The SDK writes url objects without "raw": the URLs come from the parts.
    const std::vector<std::string> expected = {
        R"({"folder":"","name":"Status","method":"GET","url":"http://127.0.0.1:8080/status?verbose=true&debug#top","body":"","body_type":"raw","headers":{"Accept":"application/json"},"auth":{}})",
        R"({"folder":"Users/Admin","name":"Create user","method":"POST","url":"{{baseUrl}}/users","body":"{\"name\":\"ann\"}","body_type":"raw","headers":{"Content-Type":"application/json","X-Trace":"off","X-Dup":"one","X-Dup":"two"},"auth":{"type":"bearer","token":"{{token}}"}})",
        R"({"folder":"Users/Admin","name":"Login","method":"POST","url":"https://auth.example.test/login","body":"","body_type":"urlencoded","headers":{},"auth":{"type":"basic","username":"ann","password":"s3cret"}})",
        R"({"folder":"Users/Admin","name":"Upload","method":"POST","url":"https://files.example.test:8443/upload","body":"","body_type":"formdata","headers":{},"auth":{"type":"apikey","key":"X-Api-Key","value":"k-123","in":"header"}})",
        R"({"folder":"Users/Admin","name":"Put file","method":"PUT","url":"https://files.example.test/blob","body":"","body_type":"file","headers":{},"auth":{"type":"digest","username":"d","realm":"r"}})",
        R"({"folder":"Users/Admin","name":"Graph","method":"POST","url":"https://api.example.test/graphql","body":"","body_type":"graphql","headers":{},"auth":{"type":"oauth2","accessToken":"at","addTokenTo":"header"}})",
        R"({"folder":"Users","name":"List","method":"GET","url":"https://api.{{domain}}.test:8443/v1/users?page=2","body":"","body_type":"raw","headers":{},"auth":{"type":"noauth"}})",
        R"({"folder":"","name":"Raw text","method":"DELETE","url":"http://127.0.0.1/items/7","body":"plain text","body_type":"raw","headers":{},"auth":{}})",
    };
    ASSERT_EQ(api_collection_count(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(api_collection_get_json(static_cast<int>(i)), expected[i]);
}

// Requests the exported file must carry to the format's tools.
const char *const exported_items[] = {
    R"({"name":"get with query","method":"GET","url":"http://127.0.0.1:{{port}}/items/42?x=1&y=two#frag","headers":{"Accept":"application/json","X-Trace":"t1"}})",
    R"({"name":"post json","method":"POST","url":"http://127.0.0.1:{{port}}/items","headers":{"Content-Type":"application/json","X-Dup":"1","X-Dup":"2"},"body":"{\"a\":1}","body_type":"raw"})",
    R"({"name":"put placeholders","method":"PUT","url":"http://{{host}}:{{port}}/a/{{id}}/b","headers":{"X-Num":5},"body":"text body","body_type":"raw"})",
    R"({"name":"delete","method":"DELETE","url":"http://127.0.0.1:{{port}}/items/42","auth":{"type":"bearer","token":"t"}})",
    "{\"name\":\"patch caf\xC3\xA9\",\"method\":\"PATCH\",\"url\":\"http://127.0.0.1:{{port}}/caf%C3%A9?q=%2F\",\"body\":\"h\xC3\xA9llo\",\"body_type\":\"raw\"}",
};

void add_exported_items() {
    for (const char *item : exported_items) ASSERT_EQ(api_collection_add("Folder/Sub", item), 1);
}

TEST_F(PostmanInterop, ExportLoadsInTheSdkWithTheSameRequests) {
    add_exported_items();
    std::string path = dir_.file("export.json");
    ASSERT_EQ(api_export_postman(path.c_str()), 1);
    EXPECT_EQ(run_interop_script("sdk_view.js", shell_quote(path)),
              R"({"name":"Exported Tovrane Collection","requests":[)"
              R"({"name":"get with query","method":"GET","url":"http://127.0.0.1:{{port}}/items/42?x=1&y=two#frag",)"
              R"("header":[["Accept","application/json"],["X-Trace","t1"]],"body":null},)"
              R"({"name":"post json","method":"POST","url":"http://127.0.0.1:{{port}}/items",)"
              R"("header":[["Content-Type","application/json"],["X-Dup","1"],["X-Dup","2"]],"body":{"mode":"raw","raw":"{\"a\":1}"}},)"
              R"({"name":"put placeholders","method":"PUT","url":"http://{{host}}:{{port}}/a/{{id}}/b",)"
              R"("header":[["X-Num",""]],"body":{"mode":"raw","raw":"text body"}},)"
              R"({"name":"delete","method":"DELETE","url":"http://127.0.0.1:{{port}}/items/42","header":[],"body":null},)"
              "{\"name\":\"patch caf\xC3\xA9\",\"method\":\"PATCH\",\"url\":\"http://127.0.0.1:{{port}}/caf%C3%A9?q=%2F\","
              "\"header\":[],\"body\":{\"mode\":\"raw\",\"raw\":\"h\xC3\xA9llo\"}}]}");
}

struct Sent {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> own_headers;  // in order, among newman's own
    std::string body;
};

TEST_F(PostmanInterop, NewmanSendsEveryExportedRequest) {
    add_exported_items();
    std::string path = dir_.file("export.json");
    ASSERT_EQ(api_export_postman(path.c_str()), 1);
    std::string out = run_interop_script("newman_send.js", shell_quote(path));
    JsonDoc doc = parse_json(out);
    ASSERT_TRUE(doc) << out;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(root, "failures")), 0u) << out;

    const Sent expected[] = {
        {"GET", "/items/42?x=1&y=two", {{"Accept", "application/json"}, {"X-Trace", "t1"}}, ""},
        {"POST", "/items", {{"Content-Type", "application/json"}, {"X-Dup", "1"}, {"X-Dup", "2"}}, "{\"a\":1}"},
        {"PUT", "/a/7/b", {{"X-Num", ""}}, "text body"},
        {"DELETE", "/items/42", {}, ""},
        {"PATCH", "/caf%C3%A9?q=%2F", {}, "h\xC3\xA9llo"},
    };
    yyjson_val *received = yyjson_obj_get(root, "received");
    ASSERT_EQ(yyjson_arr_size(received), std::size(expected)) << out;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].target);
        yyjson_val *request = yyjson_arr_get(received, i);
        EXPECT_STREQ(json_str(request, "method", ""), expected[i].method.c_str());
        EXPECT_STREQ(json_str(request, "target", ""), expected[i].target.c_str());
        EXPECT_STREQ(json_str(request, "body", ""), expected[i].body.c_str());
        std::vector<std::pair<std::string, std::string>> own;
        yyjson_val *pair;
        yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(request, "header"));
        while ((pair = yyjson_arr_iter_next(&it))) {
            std::string name = yyjson_get_str(yyjson_arr_get(pair, 0));
            if (name == "Accept" && i != 0) continue;  // newman adds its own Accept
            if (name == "Content-Type" && i != 1) continue;
            if (name == "Accept" || name == "Content-Type" || name.rfind("X-", 0) == 0)
                own.emplace_back(name, yyjson_get_str(yyjson_arr_get(pair, 1)));
        }
        EXPECT_EQ(own, expected[i].own_headers);
    }
}

}  // namespace
