#include <string>

#include "collection/collection.h"
#include "collection_fixture.h"

namespace {

struct StoredCase {
    const char *request_json;
    const char *expected;
};

// Each case: what the item reads back as after an add with a null folder.
const StoredCase stored_cases[] = {
    {"{}", R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
    {R"({"auth":{"type":"bearer"},"body_type":"json","body":"b","url":"u","method":"post","name":"n","headers":{"A":"1"}})",
     R"({"folder":"","name":"n","method":"post","url":"u","body":"b","body_type":"json","headers":{"A":"1"},"auth":{"type":"bearer"}})"},
    {R"({"name":5})", R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
    {R"({"name":null,"method":{},"url":[],"body_type":true})",
     R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
    {R"({"body":{"a":1}})", R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
    {R"({"headers":[],"auth":null})",
     R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":[],"auth":null})"},
    {R"({"headers":"x","auth":1.5})",
     R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":"x","auth":1.5})"},
    {R"({"folder":"F","name":"a","name":"b"})",
     R"({"folder":"","name":"a","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
    // Equal keys inside a stored value are kept, not merged; "/" and non-ASCII stay unescaped.
    {R"({"url":"http://h/\u00e9","headers":{"A":"1","A":"2"}})",
     "{\"folder\":\"\",\"name\":\"Untitled Request\",\"method\":\"GET\",\"url\":\"http://h/\xC3\xA9\",\"body\":\"\","
     "\"body_type\":\"raw\",\"headers\":{\"A\":\"1\",\"A\":\"2\"},\"auth\":{}}"},
    {R"( { "headers" : { "x" : [ 1 , 2 ] } } )",
     R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{"x":[1,2]},"auth":{}})"},
};

TEST_F(CollectionTest, StoresMembersWithTheirDefaults) {
    for (const StoredCase &c : stored_cases) {
        SCOPED_TRACE(c.request_json);
        ac_collection_init();
        ASSERT_EQ(api_collection_add(nullptr, c.request_json), 1);
        EXPECT_EQ(item(0), c.expected);
    }
}

TEST_F(CollectionTest, FolderComesFromTheArgumentOnly) {
    ASSERT_EQ(api_collection_add("A/B", R"({"folder":"X"})"), 1);
    ASSERT_EQ(api_collection_add("", "{}"), 1);
    EXPECT_EQ(item(0).rfind(R"({"folder":"A/B","name")", 0), 0u);
    EXPECT_EQ(item(1).rfind(R"({"folder":"","name")", 0), 0u);
    // Read back and added again without a folder, the item loses it.
    std::string copy = item(0);
    ASSERT_EQ(api_collection_add(nullptr, copy.c_str()), 1);
    EXPECT_EQ(item(2).rfind(R"({"folder":"","name")", 0), 0u);
}

struct RejectCase {
    const char *request_json;
    const char *message;
};

TEST_F(CollectionTest, RejectsBadRequestJsonAndKeepsItems) {
    const RejectCase cases[] = {
        {nullptr, "api_collection_add: null or empty request_json"},
        {"", "api_collection_add: null or empty request_json"},
        {"[]", "api_collection_add: request_json must be an object"},
        {"\"x\"", "api_collection_add: request_json must be an object"},
        {"{", "api_collection_add: invalid JSON: {"},
        {"{\"a\":1,}", "api_collection_add: invalid JSON: {\"a\":1,}"},
        {"\xEF\xBB\xBF{}", "api_collection_add: invalid JSON: \xEF\xBB\xBF{}"},
    };
    ASSERT_EQ(api_collection_add("keep", R"({"name":"kept"})"), 1);
    std::string before = item(0);
    for (const RejectCase &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(api_collection_add("f", c.request_json), 0);
        EXPECT_EQ(last_error(), c.message);
        EXPECT_EQ(api_collection_count(), 1);
        EXPECT_EQ(item(0), before);
    }
}

TEST_F(CollectionTest, InvalidJsonMessageIsCutToTheErrorBuffer) {
    std::string text = "{" + std::string(3000, 'x');
    EXPECT_EQ(api_collection_add(nullptr, text.c_str()), 0);
    EXPECT_EQ(last_error(), ("api_collection_add: invalid JSON: " + text).substr(0, 2047));
}

TEST_F(CollectionTest, RejectsFolderThatIsNotUtf8) {
    EXPECT_EQ(api_collection_add("caf\xC3", "{}"), 0);
    EXPECT_EQ(last_error(), "api_collection_add: folder is not valid UTF-8");
    EXPECT_EQ(api_collection_count(), 0);
    EXPECT_EQ(api_collection_add("caf\xC3\xA9", "{}"), 1);
    EXPECT_EQ(api_collection_save(dir_.file("c.json").c_str()), 1);
}

TEST_F(CollectionTest, SuccessLeavesAnEarlierMessage) {
    EXPECT_EQ(api_collection_add(nullptr, "[]"), 0);
    EXPECT_EQ(api_collection_add(nullptr, "{}"), 1);
    EXPECT_EQ(last_error(), "api_collection_add: request_json must be an object");
}

TEST_F(CollectionTest, HoldsAtMost2000Items) {
    for (int i = 0; i < max_collection_items; ++i) {
        std::string json = R"({"name":"n)" + std::to_string(i) + "\"}";
        ASSERT_EQ(api_collection_add(nullptr, json.c_str()), 1) << i;
    }
    EXPECT_EQ(api_collection_count(), 2000);
    EXPECT_EQ(api_collection_add(nullptr, "{}"), 0);
    EXPECT_EQ(last_error(), "api_collection_add: collection limit (2000) reached");
    // The limit is checked before the text is looked at.
    EXPECT_EQ(api_collection_add(nullptr, "{"), 0);
    EXPECT_EQ(last_error(), "api_collection_add: collection limit (2000) reached");
    EXPECT_EQ(api_collection_count(), 2000);
    EXPECT_NE(item(1999).find(R"("name":"n1999")"), std::string::npos);
    EXPECT_EQ(item(2000), "{}");
}

TEST_F(CollectionTest, OutOfRangeIndexGivesEmptyObjectAndNoMessage) {
    ASSERT_EQ(api_collection_add(nullptr, "[]"), 0);
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    for (int index : {-1, 1, 2, -2147483647 - 1}) {
        EXPECT_EQ(item(index), "{}") << index;
    }
    EXPECT_EQ(last_error(), "api_collection_add: request_json must be an object");
}

TEST_F(CollectionTest, ResultBufferFollowsGrowingItems) {
    std::string big = R"({"body":")" + std::string(5000, 'b') + "\"}";
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    ASSERT_EQ(api_collection_add(nullptr, big.c_str()), 1);
    EXPECT_EQ(item(0).size(), 114u);
    EXPECT_NE(item(1).find(std::string(5000, 'b')), std::string::npos);
    EXPECT_EQ(item(0).size(), 114u);
}

TEST_F(CollectionTest, InitialisationEmptiesTheCollection) {
    api_cleanup();
    ASSERT_EQ(api_collection_add("before", "{}"), 1);
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(api_collection_count(), 0);
    EXPECT_EQ(item(0), "{}");
}

}  // namespace
