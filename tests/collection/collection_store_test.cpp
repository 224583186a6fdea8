#include <string>

#include "collection/collection.h"
#include "collection_fixture.h"

namespace {

TEST_F(CollectionTest, StoresMembersWithTheirDefaults) {
    const std::string defaults =
        R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})";
    const struct {
        const char *request_json;
        std::string expected;
    } cases[] = {
        {"{}", defaults},
        {R"({"auth":{"type":"bearer"},"body_type":"json","body":"b","url":"u","method":"post","name":"n","headers":{"A":"1"}})",
         R"({"folder":"","name":"n","method":"post","url":"u","body":"b","body_type":"json","headers":{"A":"1"},"auth":{"type":"bearer"}})"},
        {R"({"name":5,"method":{},"url":[],"body":{"a":1},"body_type":true})", defaults},
        {R"({"headers":"x","auth":null})",
         R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":"x","auth":null})"},
        {R"({"folder":"F","name":"a","name":"b"})",
         R"({"folder":"","name":"a","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
        // Equal keys inside a stored value are kept; "/" and non-ASCII stay unescaped.
        {R"( { "url" : "http://h/\u00e9" , "headers" : { "A" : [ 1 , 2 ] , "A" : "2" } } )",
         "{\"folder\":\"\",\"name\":\"Untitled Request\",\"method\":\"GET\",\"url\":\"http://h/\xC3\xA9\",\"body\":\"\","
         "\"body_type\":\"raw\",\"headers\":{\"A\":[1,2],\"A\":\"2\"},\"auth\":{}}"},
    };
    for (const auto &c : cases) {
        ac_collection_init();
        ASSERT_EQ(api_collection_add(nullptr, c.request_json), 1);
        EXPECT_EQ(item(0), c.expected) << c.request_json;
    }
}

TEST_F(CollectionTest, FolderComesFromTheArgumentOnly) {
    ASSERT_EQ(api_collection_add("A/B", R"({"folder":"X"})"), 1);
    ASSERT_EQ(api_collection_add("", item(0).c_str()), 1);  // read back and added again, it loses the folder
    EXPECT_EQ(item(0).rfind(R"({"folder":"A/B","name")", 0), 0u);
    EXPECT_EQ(item(1).rfind(R"({"folder":"","name")", 0), 0u);
}

TEST_F(CollectionTest, RejectsBadInputAndKeepsItems) {
    const std::string long_text = "{" + std::string(3000, 'x');
    const struct {
        const char *folder, *request_json;
        std::string message;
    } cases[] = {
        {"f", nullptr, "api_collection_add: null or empty request_json"},
        {"f", "", "api_collection_add: null or empty request_json"},
        {"f", "[]", "api_collection_add: request_json must be an object"},
        {"f", "{", "api_collection_add: invalid JSON: {"},
        {"f", "{\"a\":1,}", "api_collection_add: invalid JSON: {\"a\":1,}"},
        {"f", "\xEF\xBB\xBF{}", "api_collection_add: invalid JSON: \xEF\xBB\xBF{}"},
        // The message is cut to the 2048-byte error buffer.
        {"f", long_text.c_str(), ("api_collection_add: invalid JSON: " + long_text).substr(0, 2047)},
        // A folder that is not UTF-8 could never be saved.
        {"caf\xC3", "{}", "api_collection_add: folder is not valid UTF-8"},
    };
    ASSERT_EQ(api_collection_add("keep", R"({"name":"kept"})"), 1);
    std::string before = item(0);
    for (const auto &c : cases) {
        EXPECT_EQ(api_collection_add(c.folder, c.request_json), 0);
        EXPECT_EQ(last_error(), c.message);
        EXPECT_EQ(api_collection_count(), 1);
        EXPECT_EQ(item(0), before);
    }
}

TEST_F(CollectionTest, ReadsBackAnyIndexWhateverTheItemSizes) {
    ASSERT_EQ(api_collection_add(nullptr, "[]"), 0);
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    ASSERT_EQ(api_collection_add(nullptr, (R"({"body":")" + std::string(5000, 'b') + "\"}").c_str()), 1);
    std::string small = item(0);
    EXPECT_NE(item(1).find(std::string(5000, 'b')), std::string::npos);
    EXPECT_EQ(item(0), small);  // the grown result buffer serves a small item again
    for (int index : {-1, 2, -2147483647 - 1}) EXPECT_EQ(item(index), "{}") << index;
    EXPECT_EQ(last_error(), "api_collection_add: request_json must be an object");  // successes leave it
}

}  // namespace

// A value nested thousands deep would save as a file that grows with the
// square of the depth: 64 levels are kept, deeper ones refused at add and load.
TEST_F(CollectionTest, RefusesHeadersOrAuthNestedDeeperThan64Levels) {
    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    const struct {
        const char *member;
        int depth;
        bool added;
    } cases[] = {{"headers", 64, true}, {"headers", 65, false}, {"auth", 64, true}, {"auth", 65, false},
                 {"headers", 5000, false}};
    for (const auto &c : cases) {
        ac_collection_init();
        std::string item = std::string("{\"") + c.member + "\":" + nested(c.depth) + "}";
        EXPECT_EQ(api_collection_add(nullptr, item.c_str()), c.added ? 1 : 0) << c.member << c.depth;
        EXPECT_EQ(api_collection_count(), c.added ? 1 : 0);
        if (!c.added) {
            EXPECT_EQ(last_error(), std::string("api_collection_add: '") + c.member + "' nested too deeply");
        }
    }
    ac_collection_init();
    const std::string path = dir_.file("deep.json");
    write_text(path, R"({"requests":[{"name":"a"},{"name":"deep","auth":)" + nested(65) + R"(},{"name":"c"}]})");
    ASSERT_EQ(api_collection_load(path.c_str()), 1);
    EXPECT_EQ(api_collection_count(), 2);
    EXPECT_EQ(last_error(), "api_collection_add: 'auth' nested too deeply");
}
