#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvane_apiclient.h"
#include "support/library_fixture.h"
#include "support/temp_dir.h"

namespace {

class PostmanImport : public LibraryTest {
protected:

    // Imports a file whose root "item" list is `items`.
    int import_items(const std::string &items) {
        std::string path = dir_.file("collection.json");
        write_text(path, R"({"info":{"name":"x"},"item":)" + items + "}");
        return api_import_postman(path.c_str());
    }

    TempDir dir_;
};

std::string item_json(int index) { return api_collection_get_json(index); }

// Folders nest from the outside in; the request sits in the innermost.
std::string in_folders(const std::vector<std::string> &names, const std::string &leaf) {
    std::string s;
    for (const std::string &name : names) s += R"({"name":")" + name + R"(","item":[)";
    s += leaf;
    for (std::size_t i = 0; i < names.size(); ++i) s += "]}";
    return s;
}

TEST_F(PostmanImport, RefusesBadFilesAndKeepsTheCollection) {
    const std::string path = dir_.file("bad.json"), invalid = "api_import_postman: invalid JSON in '" + path + "'",
                      no_item = "api_import_postman: missing 'item' array in Postman collection";
    ASSERT_EQ(api_collection_add("kept", "{}"), 1);
    EXPECT_EQ(api_import_postman(path.c_str()), 0);
    EXPECT_EQ(std::string(api_last_error()), "api_import_postman: could not read '" + path + "'");
    const std::pair<const char *, std::string> cases[] = {
        {"", invalid},
        {"\xEF\xBB\xBF{\"item\":[]}", invalid},
        {"{\"item\":[]} x", invalid},
        {"[{\"item\":[]}]", "api_import_postman: root must be JSON object"},
        {"{}", no_item},
        {"{\"item\":\"x\",\"item\":[]}", no_item},
    };
    for (const auto &[text, message] : cases) {
        write_text(path, text);
        EXPECT_EQ(api_import_postman(path.c_str()), 0);
        EXPECT_EQ(std::string(api_last_error()), message) << text;
    }
    EXPECT_EQ(api_collection_count(), 1);
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
        {"name":"empty folder","item":[]}, {"name":"url only","request":"http://h"}, {"name":"neither"}, {}, 7, null, [],
        {"name":"a/b","item":[{"name":"slash","request":{}}]},
        {"name":"top2","request":{}}
    ])";
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    ASSERT_EQ(import_items(items), 1);
    const std::pair<std::string, std::string> expected[] = {
        {"", "top1"}, {"A", "a1"}, {"A/B", "b1"}, {"A", "a2"}, {"Request", "unnamed folder"},
        {"both", "inside"}, {"", "string item"}, {"a/b", "slash"}, {"", "top2"},
    };
    ASSERT_EQ(api_collection_count(), 9);
    for (int i = 0; i < 9; ++i) {
        const auto &[folder, name] = expected[i];
        EXPECT_EQ(item_json(i).rfind(R"({"folder":")" + folder + R"(","name":")" + name + "\"", 0), 0u) << item_json(i);
    }
    EXPECT_NE(item_json(6).find("\"method\":\"PUT\""), std::string::npos);
    EXPECT_EQ(import_items("[]"), 1);
    EXPECT_EQ(api_collection_count(), 0);
}

// An imported top-level item as read back; texts go in JSON-escaped.
std::string imported(const std::string &url, const std::string &name = "Request", const std::string &method = "GET",
                     const std::string &body = "", const std::string &body_type = "raw", const std::string &headers = "{}") {
    return R"({"folder":"","name":")" + name + R"(","method":")" + method + R"(","url":")" + url + R"(","body":")" + body +
           R"(","body_type":")" + body_type + R"(","headers":)" + headers + R"(,"auth":{}})";
}

TEST_F(PostmanImport, BuildsItemJsonFromRequests) {
    const struct {
        const char *item;  // one Postman item
        std::string expected;
    } cases[] = {
        {R"({"request":{}})", imported("")},
        {R"({"name":5,"request":{"method":null,"url":7,"header":{},"body":"x","auth":[]}})", imported("")},
        {R"({"name":1,"name":"second","request":{"method":"put","method":"GET"}})", imported("", "Request", "put")},
        {R"({"request":{"url":"https://h/{{p}}?a=1"}})", imported("https://h/{{p}}?a=1")},
        {R"({"request":{"url":{"raw":"http://raw","host":["parts"]}}})", imported("http://raw")},
        // Without "raw" the URL is rebuilt from its parts.
        {R"({"request":{"url":{"protocol":"https","host":["api","{{env}}"],"port":"8443","path":["v1"],"query":[{"key":"a","value":"1"}]}}})",
         imported("https://api.{{env}}:8443/v1?a=1")},
        {R"({"request":{"header":[{"key":"A","value":"1"},{"key":"B","value":"2","disabled":true},{"key":"A","value":"3"},)"
         R"({"key":"NoValue"},{"key":"Num","value":4},{"value":"no key"},"str",{"key":"E","value":""}]}})",
         imported("", "Request", "GET", "", "raw", R"({"A":"1","B":"2","A":"3","E":""})")},
        {R"({"request":{"body":{"mode":"raw","raw":"{\"x\":1}","options":{"raw":{"language":"json"}}}}})",
         imported("", "Request", "GET", R"({\"x\":1})")},
        {R"({"request":{"body":{"raw":"text"}}})", imported("", "Request", "GET", "text")},
        {R"({"request":{"body":{"mode":"urlencoded","urlencoded":[{"key":"a","value":"b"}]}}})",
         imported("", "Request", "GET", "", "urlencoded")},
        {R"({"name":"caf\u00e9 \"q\"","request":{"url":"http://h/\u00fc"}})", imported("http://h/\xC3\xBC", "caf\xC3\xA9 \\\"q\\\"")},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(import_items(std::string("[") + c.item + "]"), 1) << c.item;
        EXPECT_EQ(item_json(0), c.expected) << c.item;
    }
}

TEST_F(PostmanImport, TakesTheAuthParametersNamedByItsType) {
    const struct {
        const char *auth, *expected;
    } cases[] = {
        {R"({"type":"bearer","bearer":[{"key":"token","value":"T","type":"string"}]})", R"({"type":"bearer","token":"T"})"},
        {R"({"type":"oauth2","oauth2":[{"key":"accessToken","value":"a"},{"key":"expires","value":3600},{"key":"o","value":{}}]})",
         R"({"type":"oauth2","accessToken":"a"})"},
        {R"({"type":"x","x":[{"key":"type","value":"again"},{"key":"k","value":"1"},{"key":"k","value":"2"},"s",{"key":"n"}]})",
         R"({"type":"x","type":"again","k":"1","k":"2"})"},
        {R"({"type":"bearer","bearer":{"token":"T"}})", R"({"type":"bearer"})"},
        {R"({"type":"Bearer","bearer":[{"key":"token","value":"T"}]})", R"({"type":"Bearer"})"},
        {R"({"type":7,"bearer":[{"key":"token","value":"T"}]})", "{}"},
        {R"({"bearer":[{"key":"token","value":"T"}]})", "{}"},
        {"[]", "{}"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(import_items(std::string(R"([{"request":{"auth":)") + c.auth + "}}]"), 1);
        std::string got = item_json(0);
        EXPECT_EQ(got.substr(got.find(R"("auth":)")), std::string(R"("auth":)") + c.expected + "}") << c.auth;
    }
}

TEST_F(PostmanImport, StopsAddingAt2000ButWalksToTheEnd) {
    std::string items = "[";
    // In folders, so that the cap is reached inside the walk.
    for (int i = 0; i < 2001; ++i) items += (i ? "," : "") + in_folders({"F"}, R"({"name":"r)" + std::to_string(i) + R"(","request":{}})");
    EXPECT_EQ(import_items(items + R"(,{"name":"F","item":"not a folder","request":{}}])"), 1);
    EXPECT_EQ(api_collection_count(), 2000);
    EXPECT_NE(item_json(1999).find(R"("name":"r1999")"), std::string::npos);
    EXPECT_STREQ(api_last_error(), "api_collection_add: collection limit (2000) reached");
}

TEST_F(PostmanImport, CutsLongFolderPathsAtCharacterBoundariesWhateverTheDepth) {
    const std::string a509(509, 'a'), e_acute = "\xC3\xA9";
    std::string d511 = "d";
    while (d511.size() < 511) d511 += "/d";
    const struct {
        std::vector<std::string> levels;
        std::string expected;
    } cases[] = {
        {{a509 + e_acute}, a509 + e_acute},
        {{a509 + "a" + e_acute}, a509 + "a"},
        {{a509, e_acute}, a509 + "/"},
        {{a509 + "aa", "b"}, a509 + "aa"},
        {std::vector<std::string>(100000, "d"), d511},  // walked without recursion
    };
    for (const auto &c : cases) {
        ASSERT_EQ(import_items("[" + in_folders(c.levels, R"({"name":"r","request":{}})") + R"(,{"name":"after","request":{}}])"), 1);
        EXPECT_EQ(item_json(0).rfind(R"({"folder":")" + c.expected + R"(",)", 0), 0u) << c.expected.size();
        EXPECT_EQ(item_json(1).rfind(R"({"folder":"","name":"after")", 0), 0u);
    }
}

}  // namespace
