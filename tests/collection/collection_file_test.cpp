#include <filesystem>
#include <string>

#include "apiclient/apiclient.h"
#include "collection/collection.h"
#include "collection_fixture.h"

namespace {

TEST_F(CollectionTest, SavesExactDocuments) {
    std::string path = dir_.file("c.json");
    write_text(path, std::string(500, 'o'));
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    EXPECT_EQ(read_text(path), "{\n    \"version\": \"1.0.0\",\n    \"requests\": []\n}");
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    EXPECT_EQ(read_text(path),
              "{\n"
              "    \"version\": \"1.0.0\",\n"
              "    \"requests\": [\n"
              "        {\n"
              "            \"folder\": \"\",\n"
              "            \"name\": \"Untitled Request\",\n"
              "            \"method\": \"GET\",\n"
              "            \"url\": \"\",\n"
              "            \"body\": \"\",\n"
              "            \"body_type\": \"raw\",\n"
              "            \"headers\": {},\n"
              "            \"auth\": {}\n"
              "        }\n"
              "    ]\n"
              "}");
    EXPECT_EQ(list_dir(dir_.path()), "c.json");
}

TEST_F(CollectionTest, SaveThenLoadGivesTheSameItems) {
    const char *adds[][2] = {
        {"", R"({"name":"top","method":"DELETE","url":"http://h/x?a=1"})"},
        {"caf\xC3\xA9", R"({"name":"caf\u00e9 \ud83d\ude00","headers":[{"key":"K","value":"V"}],"auth":{"type":"basic"}})"},
        {"caf\xC3\xA9/B", R"({"body":"line1\nline2\t\"q\"","body_type":"json","headers":{"X":"1","X":"2"},"auth":[1,true,null,-2.5e3]})"},
    };
    for (auto &a : adds) ASSERT_EQ(api_collection_add(a[0], a[1]), 1) << a[1];
    std::string expected = all_items(), path = dir_.file("c.json");
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    std::string first_save = read_text(path);
    ac_collection_init();
    ASSERT_EQ(api_collection_add("stale", "{}"), 1);
    ASSERT_EQ(api_collection_load(path.c_str()), 1);
    EXPECT_EQ(all_items(), expected);
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    EXPECT_EQ(read_text(path), first_save);
}

TEST_F(CollectionTest, LoadsOnlyFilesWithARequestsArray) {
    const std::string path = dir_.file("in.json"), invalid = "api_collection_load: invalid JSON in '" + path + "'",
                      no_requests = "api_collection_load: no requests array found in '" + path + "'",
                      earlier = "api_collection_add: invalid JSON: [";
    const struct {
        std::string content;
        int count;  // items afterwards; -1: refused, the previous item kept
        std::string message;
    } cases[] = {
        {"", -1, invalid},
        {"\xEF\xBB\xBF{\"requests\":[]}", -1, invalid},
        {"{}", -1, no_requests},
        {R"({"requests":{},"item":[{}]})", -1, no_requests},
        {R"({"item":{"name":"x"}})", -1, no_requests},
        {R"({"requests":5,"requests":[{}]})", -1, no_requests},
        {R"({"requests":[]})", 0, earlier},
        {R"([{"name":"a"},{"name":"b"}])", 2, earlier},
        {R"({"item":[{"name":"a","request":{"url":"ignored"}}]})", 1, earlier},
        {R"({"version":[],"requests":[{},{}],"item":5})", 2, earlier},
    };
    for (const auto &c : cases) {
        ac_collection_init();
        ASSERT_EQ(api_collection_add("old", R"({"name":"old"})"), 1);
        std::string before = item(0);
        ASSERT_EQ(api_collection_add(nullptr, "["), 0);
        write_text(path, c.content);
        EXPECT_EQ(api_collection_load(path.c_str()), c.count >= 0 ? 1 : 0) << c.content;
        EXPECT_EQ(api_collection_count(), c.count < 0 ? 1 : c.count) << c.content;
        if (c.count < 0) { EXPECT_EQ(item(0), before); }
        EXPECT_EQ(last_error(), c.message) << c.content;
    }
}

TEST_F(CollectionTest, LoadTakesFolderFromEachElementAndDropsNonObjects) {
    std::string path = dir_.file("in.json");
    write_text(path, R"([{"folder":"A/B","folder":"C","name":"x"},1,{"folder":5},null])");
    ASSERT_EQ(api_collection_load(path.c_str()), 1);
    ASSERT_EQ(api_collection_count(), 2);
    EXPECT_EQ(item(0), R"({"folder":"A/B","name":"x","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})");
    EXPECT_EQ(item(1).rfind(R"({"folder":"","name":"Untitled Request")", 0), 0u);
    EXPECT_EQ(last_error(), "api_collection_add: request_json must be an object");
}

TEST_F(CollectionTest, HoldsAtMost2000ItemsLoadedOrAdded) {
    std::string content = "[{}";
    for (int i = 1; i <= max_collection_items; ++i) content += R"(,{"name":"n)" + std::to_string(i) + "\"}";
    std::string path = dir_.file("big.json");
    write_text(path, content + "]");
    ASSERT_EQ(api_collection_load(path.c_str()), 1);
    EXPECT_EQ(api_collection_count(), 2000);
    EXPECT_NE(item(1999).find(R"("name":"n1999")"), std::string::npos);
    EXPECT_EQ(last_error(), "api_collection_add: collection limit (2000) reached");
    // The limit is checked before the text is looked at.
    for (const char *json : {"{}", "{"}) {
        ac_set_error("reset");
        EXPECT_EQ(api_collection_add(nullptr, json), 0);
        EXPECT_EQ(last_error(), "api_collection_add: collection limit (2000) reached");
    }
    EXPECT_EQ(api_collection_count(), 2000);
}

TEST_F(CollectionTest, FailedLoadOrSaveLosesNeitherItemsNorFiles) {
    ASSERT_EQ(api_collection_add("f", "{}"), 1);
    write_text(dir_.file("plain"), "keep");
    ASSERT_TRUE(std::filesystem::create_directory(dir_.file("target")));
    for (const std::string &p : {dir_.file("missing.json"), dir_.path(), dir_.file("plain/c.json")}) {
        EXPECT_EQ(api_collection_load(p.c_str()), 0);
        EXPECT_EQ(last_error(), "api_collection_load: could not read '" + p + "'");
    }
    for (const std::string &p : {dir_.file("missing/c.json"), dir_.file("plain/c.json"), dir_.file("target")}) {
        EXPECT_EQ(api_collection_save(p.c_str()), 0);
        EXPECT_EQ(last_error(), "api_collection_save: failed to write to '" + p + "'");
    }
    for (const char *p : {static_cast<const char *>(nullptr), ""}) {
        EXPECT_EQ(api_collection_load(p), 0);
        EXPECT_EQ(last_error(), "api_collection_load: null or empty path");
        EXPECT_EQ(api_collection_save(p), 0);
        EXPECT_EQ(last_error(), "api_collection_save: null or empty path");
    }
    EXPECT_EQ(api_collection_count(), 1);
    EXPECT_EQ(list_dir(dir_.path()), "plain target");
    EXPECT_EQ(list_dir(dir_.file("target")), "");
    EXPECT_EQ(read_text(dir_.file("plain")), "keep");
}

}  // namespace
