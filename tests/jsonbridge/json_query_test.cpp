#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "apiclient/apiclient.h"
#include "jsonbridge/jsonbridge.h"
#include "quorvane_apiclient.h"

namespace {

// Puts text into the response body the way a finished request leaves it.
void set_body(const std::string &text) {
    std::free(g_response_body);
    g_response_body = static_cast<char *>(std::malloc(text.size() + 1));
    ASSERT_NE(g_response_body, nullptr);
    std::memcpy(g_response_body, text.data(), text.size());
    g_response_body[text.size()] = '\0';
    g_response_body_len = text.size();
    g_response_body_cap = text.size() + 1;
}

class JsonQuery : public ::testing::Test {
protected:
    void TearDown() override { api_cleanup(); }
};

struct QueryCase {
    const char *body;
    const char *path;
    const char *expected;  // nullptr: not found
};

TEST_F(JsonQuery, SelectsByPointerDottedPathAndKey) {
    const char *doc = R"({"name":"bob","n":42,"a":{"b":[10,20]},"a.b":"dotted","$":"dollar",)"
                      R"("":{"0":"empty key"},"x/y":{"m~n":1},".a.b":"lead","/nope":"slash key",)"
                      R"("s":"caf\u00e9 \"q\" a\/b","f":1.5,"t":true,"z":null})";
    const QueryCase cases[] = {
        {doc, "name", R"("bob")"},
        {doc, "/n", "42"},
        {doc, ".n", "42"},
        {doc, "$.n", "42"},
        {doc, "$.a.b[1]", "20"},
        {doc, "/a/b/1", "20"},
        {doc, ".a.b.0", "10"},
        {doc, "$.a.b", "[10,20]"},
        {doc, "$.a", R"({"b":[10,20]})"},
        {doc, "a.b", R"("dotted")"},
        {doc, "$", R"("dollar")"},
        {doc, "//0", R"("empty key")"},
        {doc, "$.[0]", R"("empty key")"},
        {doc, "/x~1y/m~0n", "1"},
        {doc, "/nope", R"("slash key")"},
        {doc, "/a/c", nullptr},
        {doc, "$.a.b[2]", nullptr},
        {doc, "$.a.b[1", "20"},  // an unclosed bracket keeps what it copied
        {doc, "NAME", nullptr},
        {doc, "s", R"("café \"q\" a/b")"},
        {doc, "f", "1.5"},
        {doc, "t", "true"},
        {doc, "z", "null"},
        // .a.b finds a/b first; only a miss falls back to the key spelled with its dot.
        {R"({".a.b":"lead"})", ".a.b", R"("lead")"},
        {R"({"a":{"b":1},".a.b":"lead"})", ".a.b", "1"},
        {R"([{"id":7},2])", "/0", R"({"id":7})"},
        {R"([{"id":7},2])", ".0", R"({"id":7})"},
        {R"([{"id":7},2])", "$.0.id", "7"},
        {R"([{"id":7},2])", "$[0]", nullptr},
        {R"([{"id":7},2])", "$.[0]", nullptr},
        {R"([{"id":7},2])", "0", nullptr},
        {R"({"k":1,"k":2})", "k", "1"},
        {R"({"k":1,"k":2})", "/k", "1"},
        {"\"scalar\"", "$", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.body);
        set_body(c.body);
        const char *got = api_json_query(c.path);
        if (c.expected) {
            EXPECT_STREQ(got, c.expected);
        } else {
            EXPECT_STREQ(got, "");
            EXPECT_EQ(std::string(api_last_error()), std::string("api_json_query: path '") + c.path + "' not found");
        }
    }
}

TEST(DottedToPointer, ConvertsAsDocumented) {
    const struct {
        const char *dotted;
        const char *pointer;
    } cases[] = {
        {".data.items[0].id", "/data/items/0/id"},
        {".data.items.0.id", "/data/items/0/id"},
        {".a[x.y]", "/a/x.y"},
        {".a['k']", "/a/'k'"},
        {".[0]", "//0"},
        {".a[b", "/a/b"},
        {".a/b~c", "/a/b~c"},
        {".", "/"},
    };
    for (const auto &c : cases) {
        char out[json_pointer_size];
        std::size_t n = ac_dotted_to_pointer(c.dotted, out);
        EXPECT_STREQ(out, c.pointer) << c.dotted;
        EXPECT_EQ(n, std::strlen(c.pointer));
    }
}

TEST(DottedToPointer, StopsAt510Characters) {
    std::string dotted = "." + std::string(600, 'x');
    char out[json_pointer_size];
    EXPECT_EQ(ac_dotted_to_pointer(dotted.c_str(), out), 510u);
    EXPECT_EQ(std::string(out), "/" + std::string(509, 'x'));
}

TEST_F(JsonQuery, RefusesBadInputWithItsMessage) {
    const struct {
        const char *body;  // nullptr: no body buffer at all
        const char *path;
        const char *message;
    } cases[] = {
        {R"({"a":1})", nullptr, "api_json_query: empty path"},
        {R"({"a":1})", "", "api_json_query: empty path"},
        {nullptr, "a", "api_json_query: no response body to query"},
        {"", "a", "api_json_query: no response body to query"},
        {"\xEF\xBB\xBF{\"a\":1}", "a", "api_json_query: response body is not valid JSON"},
        {"{\"a\":1} trailing", "a", "api_json_query: response body is not valid JSON"},
        {"{\"a\":1,}", "a", "api_json_query: response body is not valid JSON"},
        {"{\"a\":NaN}", "a", "api_json_query: response body is not valid JSON"},
        {"{\"a\":\"\xFF\"}", "a", "api_json_query: response body is not valid JSON"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        if (c.body) {
            set_body(c.body);
        } else {
            api_cleanup();
        }
        EXPECT_STREQ(api_json_query(c.path), "");
        EXPECT_STREQ(api_last_error(), c.message);
    }
}

TEST_F(JsonQuery, ReadsTheStoredLengthNotUpToNul) {
    // The body holds a NUL inside a string; the parser must see the whole body.
    set_body(std::string("{\"a\":\"x\\u0000y\",\"b\":2}"));
    EXPECT_STREQ(api_json_query("b"), "2");
    std::string raw("{\"a\":1}\0{\"b\":2}", 15);
    set_body(raw);
    EXPECT_STREQ(api_json_query("a"), "");
    EXPECT_STREQ(api_last_error(), "api_json_query: response body is not valid JSON");
}

TEST_F(JsonQuery, SuccessKeepsEarlierMessageAndFailureEmptiesEarlierResult) {
    set_body(R"({"a":{"b":1}})");
    EXPECT_STREQ(api_json_query("nope"), "");
    const char *first = api_json_query("a");
    EXPECT_STREQ(first, R"({"b":1})");
    EXPECT_STREQ(api_last_error(), "api_json_query: path 'nope' not found");
    EXPECT_STREQ(api_json_query("missing"), "");
    EXPECT_STREQ(first, "");
}

TEST_F(JsonQuery, ReturnsLongValuesWhole) {
    std::string big(200000, 'v');
    set_body("{\"big\":\"" + big + "\",\"arr\":[]}");
    std::string got = api_json_query("big");
    EXPECT_EQ(got.size(), big.size() + 2);
    EXPECT_EQ(got, "\"" + big + "\"");
    EXPECT_STREQ(api_json_query("arr"), "[]");
}

}  // namespace
