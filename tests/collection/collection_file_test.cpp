#include <string>

#include <sys/stat.h>

#include "collection/collection.h"
#include "collection_fixture.h"

namespace {

const char one_item_file[] =
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
    "}";

TEST_F(CollectionTest, SavesExactDocuments) {
    std::string path = dir_.file("c.json");
    write_text(path, std::string(500, 'o'));
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    EXPECT_EQ(read_text(path), "{\n    \"version\": \"1.0.0\",\n    \"requests\": []\n}");
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    EXPECT_EQ(read_text(path), one_item_file);
    EXPECT_EQ(list_dir(dir_.path()), "c.json");
    EXPECT_EQ(api_collection_count(), 1);
}

TEST_F(CollectionTest, SaveThenLoadGivesTheSameItems) {
    const char *adds[][2] = {
        {"", R"({"name":"top","method":"DELETE","url":"http://h/x?a=1"})"},
        {"A", R"({"name":"caf\u00e9 \ud83d\ude00","headers":[{"key":"K","value":"V"}],"auth":{"type":"basic"}})"},
        {"A/B", R"({"body":"line1\nline2\t\"q\"","body_type":"json","headers":null,"auth":"tok"})"},
        {"A/B", R"({"headers":{"X":"1","X":"2"},"auth":[1,true,null,-2.5e3]})"},
    };
    for (auto &a : adds) ASSERT_EQ(api_collection_add(a[0], a[1]), 1) << a[1];
    std::string expected[4];
    for (int i = 0; i < 4; ++i) expected[i] = item(i);

    std::string path = dir_.file("c.json");
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    std::string first_save = read_text(path);
    ac_collection_init();
    ASSERT_EQ(api_collection_add("stale", "{}"), 1);
    ASSERT_EQ(api_collection_load(path.c_str()), 1);
    ASSERT_EQ(api_collection_count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(item(i), expected[i]) << i;
    ASSERT_EQ(api_collection_save(path.c_str()), 1);
    EXPECT_EQ(read_text(path), first_save);
}

struct LoadCase {
    const char *name;
    std::string content;
    int result;
    int count;        // items afterwards; -1: the previous items are kept
    const char *message;  // with %s for the path; nullptr: no new message
};

TEST_F(CollectionTest, LoadsOnlyFilesWithARequestsArray) {
    const LoadCase cases[] = {
        {"empty file", "", 0, -1, "api_collection_load: invalid JSON in '%s'"},
        {"byte order mark", "\xEF\xBB\xBF{\"requests\":[]}", 0, -1, "api_collection_load: invalid JSON in '%s'"},
        {"trailing comma", "[{},]", 0, -1, "api_collection_load: invalid JSON in '%s'"},
        {"empty object", "{}", 0, -1, "api_collection_load: no requests array found in '%s'"},
        {"number", "5", 0, -1, "api_collection_load: no requests array found in '%s'"},
        {"requests not an array", R"({"requests":{},"item":[{}]})", 0, -1,
         "api_collection_load: no requests array found in '%s'"},
        {"item not an array", R"({"item":{"name":"x"}})", 0, -1, "api_collection_load: no requests array found in '%s'"},
        {"first requests wins", R"({"requests":5,"requests":[{}]})", 0, -1,
         "api_collection_load: no requests array found in '%s'"},
        {"empty requests", R"({"requests":[]})", 1, 0, nullptr},
        {"bare array", R"([{"name":"a"},{"name":"b"}])", 1, 2, nullptr},
        {"item array", R"({"item":[{"name":"a","request":{"url":"ignored"}}]})", 1, 1, nullptr},
        {"any version", R"({"version":[],"requests":[{}]})", 1, 1, nullptr},
        {"no version", R"({"requests":[{},{}],"item":5})", 1, 2, nullptr},
        {"non-objects dropped", R"([1,"x",{"name":"a"},null])", 1, 1,
         "api_collection_add: request_json must be an object"},
    };
    std::string path = dir_.file("in.json");
    for (const LoadCase &c : cases) {
        SCOPED_TRACE(c.name);
        ac_collection_init();
        ASSERT_EQ(api_collection_add("old", R"({"name":"old"})"), 1);
        std::string before = item(0);
        ASSERT_EQ(api_collection_add(nullptr, "["), 0);
        write_text(path, c.content);
        EXPECT_EQ(api_collection_load(path.c_str()), c.result);
        if (c.count < 0) {
            EXPECT_EQ(api_collection_count(), 1);
            EXPECT_EQ(item(0), before);
        } else {
            EXPECT_EQ(api_collection_count(), c.count);
        }
        if (c.message) {
            std::string expected = c.message;
            std::size_t at = expected.find("%s");
            if (at != std::string::npos) expected.replace(at, 2, path);
            EXPECT_EQ(last_error(), expected);
        } else {
            EXPECT_EQ(last_error(), "api_collection_add: invalid JSON: [");
        }
    }
}

TEST_F(CollectionTest, LoadTakesFolderFromEachElement) {
    std::string path = dir_.file("in.json");
    write_text(path, R"([{"folder":"A/B","folder":"C","name":"x"},{"folder":5},{"name":"y"}])");
    ASSERT_EQ(api_collection_load(path.c_str()), 1);
    ASSERT_EQ(api_collection_count(), 3);
    EXPECT_EQ(item(0), R"({"folder":"A/B","name":"x","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})");
    EXPECT_EQ(item(1).rfind(R"({"folder":"","name":"Untitled Request")", 0), 0u);
    EXPECT_EQ(item(2).rfind(R"({"folder":"","name":"y")", 0), 0u);
}

TEST_F(CollectionTest, LoadKeepsTheFirst2000Objects) {
    std::string content = "[";
    for (int i = 0; i < 2500; ++i) content += (i ? ",{\"name\":\"n" : "{\"name\":\"n") + std::to_string(i) + "\"}";
    content += "]";
    std::string path = dir_.file("big.json");
    write_text(path, content);
    ASSERT_EQ(api_collection_load(path.c_str()), 1);
    EXPECT_EQ(api_collection_count(), 2000);
    EXPECT_NE(item(1999).find(R"("name":"n1999")"), std::string::npos);
    EXPECT_EQ(last_error(), "api_collection_add: collection limit (2000) reached");
}

TEST_F(CollectionTest, LoadOfUnreadablePathsKeepsItems) {
    ASSERT_EQ(api_collection_add("f", "{}"), 1);
    write_text(dir_.file("plain"), "x");
    const std::string paths[] = {dir_.file("missing.json"), dir_.path(), dir_.file("plain/c.json")};
    for (const std::string &p : paths) {
        EXPECT_EQ(api_collection_load(p.c_str()), 0);
        EXPECT_EQ(last_error(), "api_collection_load: could not read '" + p + "'");
        EXPECT_EQ(api_collection_count(), 1);
    }
    EXPECT_EQ(api_collection_load(nullptr), 0);
    EXPECT_EQ(last_error(), "api_collection_load: null or empty path");
    EXPECT_EQ(api_collection_load(""), 0);
    EXPECT_EQ(last_error(), "api_collection_load: null or empty path");
    EXPECT_EQ(api_collection_count(), 1);
}

TEST_F(CollectionTest, FailedSaveLeavesFilesAsTheyWere) {
    ASSERT_EQ(api_collection_add("f", "{}"), 1);
    write_text(dir_.file("plain"), "keep");
    ASSERT_EQ(::mkdir(dir_.file("target").c_str(), 0755), 0);
    const std::string paths[] = {dir_.file("missing/c.json"), dir_.file("plain/c.json"), dir_.file("target")};
    for (const std::string &p : paths) {
        EXPECT_EQ(api_collection_save(p.c_str()), 0);
        EXPECT_EQ(last_error(), "api_collection_save: failed to write to '" + p + "'");
    }
    EXPECT_EQ(list_dir(dir_.path()), "plain target");
    EXPECT_EQ(list_dir(dir_.file("target")), "");
    EXPECT_EQ(read_text(dir_.file("plain")), "keep");
    EXPECT_EQ(api_collection_save(nullptr), 0);
    EXPECT_EQ(last_error(), "api_collection_save: null or empty path");
    EXPECT_EQ(api_collection_save(""), 0);
    EXPECT_EQ(last_error(), "api_collection_save: null or empty path");
    EXPECT_EQ(api_collection_count(), 1);
}

}  // namespace
