#include <gtest/gtest.h>

#include <string>

#include "quorvane_apiclient.h"
#include "support/temp_dir.h"
#include "util/util.h"

namespace {

class PostmanExport : public ::testing::Test {
protected:
    void TearDown() override { api_cleanup(); }

    std::string export_text() {
        std::string path = dir_.file("out.json");
        EXPECT_EQ(api_export_postman(path.c_str()), 1) << api_last_error();
        return read_text(path);
    }
    // The request item at `index` of the exported file, compact.
    std::string exported_item(int index) {
        std::string text = export_text();
        unique_doc doc(ac_json_read(text.data(), text.size()));
        yyjson_val *item = yyjson_arr_get(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "item"), index);
        unique_cstr out(yyjson_val_write(item, 0, nullptr));
        return out ? out.get() : "";
    }

    TempDir dir_;
};

TEST_F(PostmanExport, EmptyCollectionGivesCompleteInfo) {
    EXPECT_EQ(export_text(),
              "{\n"
              "    \"info\": {\n"
              "        \"name\": \"Exported Tovrane Collection\",\n"
              "        \"schema\": \"https://schema.getpostman.com/json/collection/v2.1.0/collection.json\"\n"
              "    },\n"
              "    \"item\": []\n"
              "}");
}

TEST_F(PostmanExport, WritesPrettyTextWithUrlParts) {
    ASSERT_EQ(api_collection_add("F/G", R"({"name":"n","method":"POST","url":"http://h:8/p?q=1","headers":{"A":"1"},)"
                                        R"("body":"x","body_type":"json","auth":{"type":"bearer","token":"t"}})"),
              1);
    std::string text = export_text();
    EXPECT_EQ(text.substr(text.find("\"item\"")),
              "\"item\": [\n"
              "        {\n"
              "            \"name\": \"n\",\n"
              "            \"request\": {\n"
              "                \"method\": \"POST\",\n"
              "                \"url\": {\n"
              "                    \"raw\": \"http://h:8/p?q=1\",\n"
              "                    \"protocol\": \"http\",\n"
              "                    \"host\": [\n"
              "                        \"h\"\n"
              "                    ],\n"
              "                    \"port\": \"8\",\n"
              "                    \"path\": [\n"
              "                        \"p\"\n"
              "                    ],\n"
              "                    \"query\": [\n"
              "                        {\n"
              "                            \"key\": \"q\",\n"
              "                            \"value\": \"1\"\n"
              "                        }\n"
              "                    ]\n"
              "                },\n"
              "                \"header\": [\n"
              "                    {\n"
              "                        \"key\": \"A\",\n"
              "                        \"value\": \"1\"\n"
              "                    }\n"
              "                ],\n"
              "                \"body\": {\n"
              "                    \"mode\": \"json\",\n"
              "                    \"raw\": \"x\"\n"
              "                }\n"
              "            }\n"
              "        }\n"
              "    ]\n"
              "}");
}

TEST_F(PostmanExport, TurnsItemsIntoFlatRequests) {
    const struct {
        const char *folder;
        const char *item;
        const char *expected;
    } cases[] = {
        {"A/B", "{}", R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[]}})"},
        {"", R"({"name":"e","body":"","body_type":"json"})", R"({"name":"e","request":{"method":"GET","url":{"raw":""},"header":[]}})"},
        {"", R"({"body":"b"})",
         R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[],"body":{"mode":"raw","raw":"b"}}})"},
        {"", R"({"body":"b","body_type":"formdata"})",
         R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[],"body":{"mode":"formdata","raw":"b"}}})"},
        {"", R"({"headers":{"B":"2","A":1,"C":{"x":1},"D":null,"B":"3"}})",
         R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[{"key":"B","value":"2"},)"
         R"({"key":"A","value":""},{"key":"C","value":""},{"key":"D","value":""},{"key":"B","value":"3"}]}})"},
        {"", R"({"headers":["A","1"]})", R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[]}})"},
        {"", R"({"headers":"A: 1"})", R"({"name":"Untitled Request","request":{"method":"GET","url":{"raw":""},"header":[]}})"},
        {"", R"({"method":"patch","url":"{{base}}/x","auth":{"type":"basic","user":"u"}})",
         R"({"name":"Untitled Request","request":{"method":"patch","url":{"raw":"{{base}}/x","host":["{{base}}"],"path":["x"]},"header":[]}})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        ASSERT_EQ(api_collection_add(c.folder, c.item), 1);
        EXPECT_EQ(exported_item(0), c.expected);
        api_cleanup();
    }
}

TEST_F(PostmanExport, KeepsCollectionOrderAndLeavesTheCollectionAlone) {
    ASSERT_EQ(api_collection_add("A", R"({"name":"one"})"), 1);
    ASSERT_EQ(api_collection_add("A/B", R"({"name":"two"})"), 1);
    ASSERT_EQ(api_collection_add(nullptr, R"({"name":"three"})"), 1);
    std::string before = api_collection_get_json(1);
    EXPECT_NE(exported_item(0).find(R"("name":"one")"), std::string::npos);
    EXPECT_NE(exported_item(1).find(R"("name":"two")"), std::string::npos);
    EXPECT_NE(exported_item(2).find(R"("name":"three")"), std::string::npos);
    EXPECT_EQ(api_collection_count(), 3);
    EXPECT_EQ(api_collection_get_json(1), before);
}

TEST_F(PostmanExport, ReportsPathFailuresAndKeepsEarlierFiles) {
    EXPECT_EQ(api_export_postman(nullptr), 0);
    EXPECT_STREQ(api_last_error(), "api_export_postman: null or empty path");
    EXPECT_EQ(api_export_postman(""), 0);
    EXPECT_STREQ(api_last_error(), "api_export_postman: null or empty path");

    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    std::string missing = dir_.file("no/such/dir.json");
    EXPECT_EQ(api_export_postman(missing.c_str()), 0);
    EXPECT_EQ(std::string(api_last_error()), "api_export_postman: failed to write to '" + missing + "'");
    EXPECT_EQ(api_collection_count(), 1);

    std::string parent_is_file = dir_.file("plain") + "/x.json";
    write_text(dir_.file("plain"), "keep");
    EXPECT_EQ(api_export_postman(parent_is_file.c_str()), 0);
    EXPECT_EQ(read_text(dir_.file("plain")), "keep");
    EXPECT_EQ(list_dir(dir_.path()), "plain");
}

TEST_F(PostmanExport, RoundTripKeepsWhatTheFormatCarries) {
    const struct {
        const char *folder;
        const char *item;
        const char *back;  // item JSON after export and import
    } cases[] = {
        {"A/B", R"({"name":"n","method":"post","url":"https://h.com/{{v}}?a=1#f","headers":{"X":"1","X":"2"},"body":"{}","body_type":"json","auth":{"type":"bearer","token":"t"}})",
         R"({"folder":"","name":"n","method":"post","url":"https://h.com/{{v}}?a=1#f","body":"{}","body_type":"json","headers":{"X":"1","X":"2"},"auth":{}})"},
        {"", R"({"headers":{"N":5},"body_type":"json"})",
         R"({"folder":"","name":"Untitled Request","method":"GET","url":"","body":"","body_type":"raw","headers":{"N":""},"auth":{}})"},
        {"", "{\"name\":\"caf\xC3\xA9\",\"url\":\"http://h/\xC3\xBC x\",\"body\":\"line\\nnext\"}",
         "{\"folder\":\"\",\"name\":\"caf\xC3\xA9\",\"method\":\"GET\",\"url\":\"http://h/\xC3\xBC x\",\"body\":\"line\\nnext\",\"body_type\":\"raw\",\"headers\":{},\"auth\":{}}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        ASSERT_EQ(api_collection_add(c.folder, c.item), 1);
        std::string path = dir_.file("round.json");
        ASSERT_EQ(api_export_postman(path.c_str()), 1);
        ASSERT_EQ(api_import_postman(path.c_str()), 1);
        ASSERT_EQ(api_collection_count(), 1);
        EXPECT_EQ(std::string(api_collection_get_json(0)), c.back);
        api_cleanup();
    }
}

}  // namespace
