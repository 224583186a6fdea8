#include <gtest/gtest.h>

#include <string>

#include "quorvane_apiclient.h"
#include "support/library_fixture.h"
#include "support/temp_dir.h"
#include "support/json.h"
#include "support/library_fixture.h"

namespace {

class PostmanExport : public LibraryTest {
protected:

    std::string export_text() {
        std::string path = dir_.file("out.json");
        EXPECT_EQ(api_export_postman(path.c_str()), 1) << api_last_error();
        return read_text(path);
    }
    // The first exported item, compact.
    std::string exported_item() {
        std::string text = export_text();
        JsonDoc doc = parse_json(text);
        return json_text(yyjson_arr_get(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "item"), 0));
    }

    TempDir dir_;
};

TEST_F(PostmanExport, WritesExactPrettyText) {
    const std::string head = "{\n"
                             "    \"info\": {\n"
                             "        \"name\": \"Exported Tovrane Collection\",\n"
                             "        \"schema\": \"https://schema.getpostman.com/json/collection/v2.1.0/collection.json\"\n"
                             "    },\n";
    EXPECT_EQ(export_text(), head + "    \"item\": []\n}");
    ASSERT_EQ(api_collection_add("F", "{}"), 1);
    EXPECT_EQ(export_text(), head +
                                 "    \"item\": [\n"
                                 "        {\n"
                                 "            \"name\": \"Untitled Request\",\n"
                                 "            \"request\": {\n"
                                 "                \"method\": \"GET\",\n"
                                 "                \"url\": {\n"
                                 "                    \"raw\": \"\"\n"
                                 "                },\n"
                                 "                \"header\": []\n"
                                 "            }\n"
                                 "        }\n"
                                 "    ]\n"
                                 "}");
}

TEST_F(PostmanExport, TurnsItemsIntoFlatRequests) {
    const std::string plain = R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[]}})";
    const struct {
        const char *folder, *item;
        std::string expected;
    } cases[] = {
        {"A/B", R"({"headers":["A","1"],"body":"","body_type":"json"})", plain},
        {"", R"({"body":"b"})",
         R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[],"body":{"mode":"raw","raw":"b"}}})"},
        {"", R"({"headers":{"B":"2","A":1,"C":{"x":1},"D":null,"B":"3"}})",
         R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[{"key":"B","value":"2"},)"
         R"({"key":"A","value":""},{"key":"C","value":""},{"key":"D","value":""},{"key":"B","value":"3"}]}})"},
        {"", R"({"name":"e","method":"patch","url":"http://h:8/p?q=1#f","auth":{"type":"basic","user":"u"}})",
         R"({"name":"e","request":{"method":"patch","url":{"raw":"http://h:8/p?q=1#f","protocol":"http","host":["h"],"port":"8",)"
         R"("path":["p"],"query":[{"key":"q","value":"1"}],"hash":"f"},"header":[]}})"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(api_collection_add(c.folder, c.item), 1);
        EXPECT_EQ(exported_item(), c.expected) << c.item;
        api_cleanup();
    }
}

TEST_F(PostmanExport, PathFailuresKeepTheCollectionAndEarlierFiles) {
    for (const char *p : {static_cast<const char *>(nullptr), ""}) {
        EXPECT_EQ(api_export_postman(p), 0);
        EXPECT_STREQ(api_last_error(), "api_export_postman: null or empty path");
        EXPECT_EQ(api_import_postman(p), 0);
        EXPECT_STREQ(api_last_error(), "api_import_postman: null or empty path");
    }
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    write_text(dir_.file("plain"), "keep");
    for (const std::string &p : {dir_.file("no/such/dir.json"), dir_.file("plain/x.json")}) {
        EXPECT_EQ(api_export_postman(p.c_str()), 0);
        EXPECT_EQ(std::string(api_last_error()), "api_export_postman: failed to write to '" + p + "'");
    }
    EXPECT_EQ(api_collection_count(), 1);
    EXPECT_EQ(read_text(dir_.file("plain")), "keep");
    EXPECT_EQ(list_dir(dir_.path()), "plain");
}

TEST_F(PostmanExport, RoundTripKeepsOrderAndWhatTheFormatCarries) {
    const char *adds[][3] = {  // folder, item, item JSON after export and import
        {"A/B", R"({"name":"n","method":"post","url":"https://h.com/{{v}}?a=1#f","headers":{"X":"1","X":"2"},"body":"{}","body_type":"json","auth":{"type":"bearer","token":"t"}})",
         R"({"folder":"","name":"n","method":"post","url":"https://h.com/{{v}}?a=1#f","body":"{}","body_type":"json","headers":{"X":"1","X":"2"},"auth":{}})"},
        {"", R"({"headers":{"N":5},"body_type":"json"})",
         R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{"N":""},"auth":{}})"},
        {"", "{\"name\":\"caf\xC3\xA9\",\"url\":\"http://h/\xC3\xBC x\",\"body\":\"line\\nnext\"}",
         "{\"folder\":\"\",\"name\":\"caf\xC3\xA9\",\"method\":\"GET\",\"url\":\"http://h/\xC3\xBC x\",\"body\":\"line\\nnext\",\"body_type\":\"raw\",\"headers\":{},\"auth\":{}}"},
    };
    for (auto &a : adds) ASSERT_EQ(api_collection_add(a[0], a[1]), 1);
    std::string before = api_collection_get_json(0);
    std::string path = dir_.file("round.json");
    ASSERT_EQ(api_export_postman(path.c_str()), 1);
    EXPECT_EQ(api_collection_get_json(0), before);
    ASSERT_EQ(api_import_postman(path.c_str()), 1);
    ASSERT_EQ(api_collection_count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(std::string(api_collection_get_json(i)), adds[i][2]);
}

}  // namespace
