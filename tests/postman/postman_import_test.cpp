#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvane_apiclient.h"
#include "support/temp_dir.h"
#include "util/util.h"

namespace {

class PostmanImport : public ::testing::Test {
protected:
    void TearDown() override { api_cleanup(); }

    int import_text(const std::string &text) {
        std::string path = dir_.file("collection.json");
        write_text(path, text);
        return api_import_postman(path.c_str());
    }
    // Imports a file whose root "item" list is `items`.
    int import_items(const std::string &items) { return import_text(R"({"info":{"name":"x"},"item":)" + items + "}"); }

    TempDir dir_;
};

std::string item_json(int index) { return api_collection_get_json(index); }

const std::string plain_get =
    R"({"name":"Request","method":"GET","url":"","body":"","body_type":"raw","headers":{},"auth":{}})";

TEST_F(PostmanImport, RefusesBadFilesAndKeepsTheCollection) {
    const struct {
        const char *text;  // nullptr: file not written
        const char *message;
    } cases[] = {
        {nullptr, "could not read '%s'"},
        {"", "invalid JSON in '%s'"},
        {"\xEF\xBB\xBF{\"item\":[]}", "invalid JSON in '%s'"},
        {"{\"item\":[],}", "invalid JSON in '%s'"},
        {"{\"item\":[]} x", "invalid JSON in '%s'"},
        {"[{\"item\":[]}]", "root must be JSON object"},
        {"{}", "missing 'item' array in Postman collection"},
        {"{\"item\":{}}", "missing 'item' array in Postman collection"},
        {"{\"item\":\"x\",\"item\":[]}", "missing 'item' array in Postman collection"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_EQ(api_collection_add("kept", "{\"name\":\"old\"}"), 1);
        std::string path = dir_.file(c.text ? "bad.json" : "missing.json");
        if (c.text) write_text(path, c.text);
        EXPECT_EQ(api_import_postman(path.c_str()), 0);
        std::string expected = std::string("api_import_postman: ") + c.message;
        if (std::size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);
        EXPECT_EQ(std::string(api_last_error()), expected);
        EXPECT_EQ(api_collection_count(), 1);
        api_cleanup();
    }
    EXPECT_EQ(api_import_postman(nullptr), 0);
    EXPECT_STREQ(api_last_error(), "api_import_postman: null or empty path");
    EXPECT_EQ(api_import_postman(""), 0);
    EXPECT_STREQ(api_last_error(), "api_import_postman: null or empty path");
}

TEST_F(PostmanImport, EmptyItemListEmptiesTheCollection) {
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    EXPECT_EQ(import_items("[]"), 1);
    EXPECT_EQ(api_collection_count(), 0);
}

TEST_F(PostmanImport, WalksFoldersDepthFirstInDocumentOrder) {
    const char *items = R"([
        {"name":"top1","request":{}},
        {"name":"A","item":[
            {"name":"a1","request":{}},
            {"name":"B","item":[{"name":"b1","request":{}}]},
            {"name":"a2","request":{}}]},
        {"item":[{"name":"unnamed folder","request":{}}]},
        {"name":"both","item":[{"name":"inside","request":{}}],"request":{"method":"POST"}},
        {"name":"string item","item":"x","request":{"method":"PUT"}},
        {"name":"empty folder","item":[]},
        {"name":"url only","request":"http://example.com"},
        {"name":"neither"},
        {}, 7, "text", null, [],
        {"name":"a/b","item":[{"name":"slash","request":{}}]},
        {"name":"top2","request":{}}
    ])";
    ASSERT_EQ(import_items(items), 1);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"", "top1"}, {"A", "a1"}, {"A/B", "b1"}, {"A", "a2"}, {"Request", "unnamed folder"},
        {"both", "inside"}, {"", "string item"}, {"a/b", "slash"}, {"", "top2"},
    };
    ASSERT_EQ(api_collection_count(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        unique_doc doc(ac_json_read(item_json(static_cast<int>(i)).c_str(), item_json(static_cast<int>(i)).size()));
        yyjson_val *root = yyjson_doc_get_root(doc.get());
        EXPECT_STREQ(ac_json_str(root, "folder", "?"), expected[i].first.c_str()) << i;
        EXPECT_STREQ(ac_json_str(root, "name", "?"), expected[i].second.c_str()) << i;
    }
    EXPECT_NE(item_json(6).find("\"method\":\"PUT\""), std::string::npos);
}

struct RequestCase {
    const char *label;
    const char *item;      // one Postman item
    const char *expected;  // item JSON read back, without its "folder"
};

TEST_F(PostmanImport, BuildsItemJsonFromRequests) {
    const RequestCase cases[] = {
        {"defaults", R"({"request":{}})", plain_get.c_str()},
        {"name, method kept as written", R"({"name":"n","request":{"method":"post"}})",
         R"({"name":"n","method":"post","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
        {"wrong types take defaults", R"({"name":5,"request":{"method":null,"url":7,"header":{},"body":"x","auth":[]}})",
         plain_get.c_str()},
        {"first of equal keys", R"({"name":1,"name":"second","request":{"method":"PUT","method":"GET"}})",
         R"({"name":"Request","method":"PUT","url":"","body":"","body_type":"raw","headers":{},"auth":{}})"},
        {"url string", R"({"request":{"url":"https://h/{{p}}?a=1"}})",
         R"({"name":"Request","method":"GET","url":"https://h/{{p}}?a=1","body":"","body_type":"raw","headers":{},"auth":{}})"},
        {"url raw wins over parts", R"({"request":{"url":{"raw":"http://raw","host":["parts"]}}})",
         R"({"name":"Request","method":"GET","url":"http://raw","body":"","body_type":"raw","headers":{},"auth":{}})"},
        {"url rebuilt from parts",
         R"({"request":{"url":{"protocol":"https","host":["api","{{env}}","com"],"port":"8443","path":["v1",{"value":"x"}],)"
         R"("query":[{"key":"a","value":"1"},{"key":"off","value":"2","disabled":true},{"key":"flag","value":null}],"hash":"top"}}})",
         R"({"name":"Request","method":"GET","url":"https://api.{{env}}.com:8443/v1/x?a=1&flag#top","body":"","body_type":"raw","headers":{},"auth":{}})"},
        {"url with parts of other types", R"({"request":{"url":{"raw":null,"host":"h.com","path":"a/b","port":80,"query":[]}}})",
         R"({"name":"Request","method":"GET","url":"h.com:80/a/b","body":"","body_type":"raw","headers":{},"auth":{}})"},
        {"url object empty", R"({"request":{"url":{}}})", plain_get.c_str()},
        {"headers: duplicates kept, disabled imported, bad entries dropped",
         R"({"request":{"header":[{"key":"A","value":"1"},{"key":"B","value":"2","disabled":true},{"key":"A","value":"3"},)"
         R"({"key":"NoValue"},{"key":"Num","value":4},{"value":"no key"},{},"str",{"key":"E","value":""}]}})",
         R"({"name":"Request","method":"GET","url":"","body":"","body_type":"raw","headers":{"A":"1","B":"2","A":"3","E":""},"auth":{}})"},
        {"raw body", R"({"request":{"body":{"mode":"raw","raw":"{\"x\":1}","options":{"raw":{"language":"json"}}}}})",
         R"({"name":"Request","method":"GET","url":"","body":"{\"x\":1}","body_type":"raw","headers":{},"auth":{}})"},
        {"body without mode", R"({"request":{"body":{"raw":"text"}}})",
         R"({"name":"Request","method":"GET","url":"","body":"text","body_type":"raw","headers":{},"auth":{}})"},
        {"urlencoded body keeps only its mode", R"({"request":{"body":{"mode":"urlencoded","urlencoded":[{"key":"a","value":"b"}]}}})",
         R"({"name":"Request","method":"GET","url":"","body":"","body_type":"urlencoded","headers":{},"auth":{}})"},
        {"graphql body", R"({"request":{"body":{"mode":"graphql","graphql":{"query":"{a}"}}}})",
         R"({"name":"Request","method":"GET","url":"","body":"","body_type":"graphql","headers":{},"auth":{}})"},
        {"empty body object", R"({"request":{"body":{}}})", plain_get.c_str()},
        {"non-ASCII and escapes byte for byte", R"({"name":"caf\u00e9 \"q\"","request":{"url":"http://h/\u00fc"}})",
         "{\"name\":\"caf\xC3\xA9 \\\"q\\\"\",\"method\":\"GET\",\"url\":\"http://h/\xC3\xBC\",\"body\":\"\",\"body_type\":\"raw\",\"headers\":{},\"auth\":{}}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(import_items(std::string("[") + c.item + "]"), 1);
        ASSERT_EQ(api_collection_count(), 1);
        EXPECT_EQ(item_json(0), std::string(R"({"folder":"",)") + (c.expected + 1));
    }
}

TEST_F(PostmanImport, TakesAuthParametersOfEveryType) {
    const struct {
        const char *auth;
        const char *expected;
    } cases[] = {
        {R"({"type":"bearer","bearer":[{"key":"token","value":"T","type":"string"}]})", R"({"type":"bearer","token":"T"})"},
        {R"({"type":"basic","basic":[{"key":"username","value":"u"},{"key":"password","value":"p"}]})",
         R"({"type":"basic","username":"u","password":"p"})"},
        {R"({"type":"apikey","apikey":[{"key":"key","value":"X-Key"},{"key":"value","value":"v"},{"key":"in","value":"header"}]})",
         R"({"type":"apikey","key":"X-Key","value":"v","in":"header"})"},
        {R"({"type":"digest","digest":[{"key":"realm","value":"r"},{"key":"nonce","value":"n"}]})",
         R"({"type":"digest","realm":"r","nonce":"n"})"},
        {R"({"type":"oauth2","oauth2":[{"key":"accessToken","value":"a"},{"key":"addTokenTo","value":"header"},{"key":"expires","value":3600}]})",
         R"({"type":"oauth2","accessToken":"a","addTokenTo":"header"})"},
        {R"({"type":"oauth1","oauth1":[{"key":"consumerKey","value":"c"},{"key":"addEmptyParamsToSign","value":false}]})",
         R"({"type":"oauth1","consumerKey":"c"})"},
        {R"({"type":"awsv4","awsv4":[{"key":"region","value":"eu"},{"key":"service","value":{"x":1}}]})",
         R"({"type":"awsv4","region":"eu"})"},
        {R"({"type":"hawk","hawk":[{"key":"authId","value":"id"}]})", R"({"type":"hawk","authId":"id"})"},
        {R"({"type":"ntlm","ntlm":[{"key":"domain","value":"d"}]})", R"({"type":"ntlm","domain":"d"})"},
        {R"({"type":"edgegrid","edgegrid":[{"key":"clientToken","value":"c"}]})", R"({"type":"edgegrid","clientToken":"c"})"},
        {R"({"type":"noauth"})", R"({"type":"noauth"})"},
        {R"({"type":"bearer","bearer":{"token":"T"}})", R"({"type":"bearer"})"},
        {R"({"type":"bearer","bearer":[]})", R"({"type":"bearer"})"},
        {R"({"type":"Bearer","bearer":[{"key":"token","value":"T"}]})", R"({"type":"Bearer"})"},
        {R"({"type":"x","x":[{"key":"type","value":"again"},{"key":"k","value":"1"},{"key":"k","value":"2"},"s",{"key":"n"}]})",
         R"({"type":"x","type":"again","k":"1","k":"2"})"},
        {R"({"type":7,"bearer":[{"key":"token","value":"T"}]})", "{}"},
        {R"({"bearer":[{"key":"token","value":"T"}]})", "{}"},
        {"{}", "{}"},
        {"[]", "{}"},
        {"\"bearer\"", "{}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.auth);
        ASSERT_EQ(import_items(std::string(R"([{"request":{"auth":)") + c.auth + "}}]"), 1);
        std::string got = item_json(0);
        std::string tail = std::string(R"("auth":)") + c.expected + "}";
        ASSERT_GE(got.size(), tail.size());
        EXPECT_EQ(got.substr(got.size() - tail.size()), tail);
    }
}

TEST_F(PostmanImport, StopsAddingAt2000ButWalksToTheEnd) {
    std::string items = "[";
    for (int i = 0; i < 2001; ++i) {
        // The requests sit in folders so that the cap is reached inside the walk.
        items += (i ? "," : "") + std::string(R"({"name":"F","item":[{"name":"r)") + std::to_string(i) + R"(","request":{}}]})";
    }
    items += R"(,{"name":"F","item":"not a folder","request":{}}])";
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    EXPECT_EQ(import_items(items), 1);
    EXPECT_EQ(api_collection_count(), 2000);
    EXPECT_NE(item_json(0).find(R"("name":"r0")"), std::string::npos);
    EXPECT_NE(item_json(1999).find(R"("name":"r1999")"), std::string::npos);
    EXPECT_STREQ(api_last_error(), "api_collection_add: collection limit (2000) reached");
}

std::string nested(int depth, const std::string &name, const std::string &leaf) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += R"({"name":")" + name + R"(","item":[)";
    s += leaf;
    for (int i = 0; i < depth; ++i) s += "]}";
    return s;
}

TEST_F(PostmanImport, SurvivesVeryDeepNesting) {
    const int depth = 100000;
    std::string items = "[";
    items += nested(depth, "d", R"({"name":"deep","request":{}})");
    items += R"(,{"name":"after","request":{}}])";
    ASSERT_EQ(import_items(items), 1);
    ASSERT_EQ(api_collection_count(), 2);
    std::string first = item_json(0);
    std::string expected_folder = "d";
    while (expected_folder.size() + 2 <= 511) expected_folder += "/d";
    EXPECT_NE(first.find(R"({"folder":")" + expected_folder + R"(",)"), std::string::npos);
    EXPECT_NE(item_json(1).find(R"({"folder":"","name":"after")"), std::string::npos);
}

TEST_F(PostmanImport, CutsLongFolderPathsAtCharacterBoundaries) {
    const std::string e_acute = "\xC3\xA9";
    const struct {
        std::string folders;  // one Postman folder level per '|'
        std::string expected;
    } cases[] = {
        {std::string(509, 'a') + e_acute, std::string(509, 'a') + e_acute},
        {std::string(510, 'a') + e_acute, std::string(510, 'a')},
        {std::string(600, 'a'), std::string(511, 'a')},
        {std::string(508, 'a') + "|" + e_acute + "x", std::string(508, 'a') + "/" + e_acute},
        {std::string(509, 'a') + "|" + e_acute, std::string(509, 'a') + "/"},
        {std::string(511, 'a') + "|b", std::string(511, 'a')},
    };
    for (const auto &c : cases) {
        std::string leaf = R"({"name":"r","request":{}})";
        std::string tree = leaf;
        std::vector<std::string> levels;
        for (std::size_t b = 0;;) {
            std::size_t e = c.folders.find('|', b);
            levels.push_back(c.folders.substr(b, e == std::string::npos ? std::string::npos : e - b));
            if (e == std::string::npos) break;
            b = e + 1;
        }
        for (auto it = levels.rbegin(); it != levels.rend(); ++it) tree = R"({"name":")" + *it + R"(","item":[)" + tree + "]}";
        ASSERT_EQ(import_items("[" + tree + "]"), 1);
        ASSERT_EQ(api_collection_count(), 1);
        std::string got = item_json(0);
        EXPECT_EQ(got.substr(0, 11 + c.expected.size() + 2), R"({"folder":")" + c.expected + R"(",)")
            << c.expected.size();
    }
}

}  // namespace
