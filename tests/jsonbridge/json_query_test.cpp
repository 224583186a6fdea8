#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "apiclient/response.h"
#include "hooks/alloc_hooks.h"
#include "jsonbridge/jsonbridge.h"
#include "quorvane_apiclient.h"
#include "support/library_fixture.h"

namespace {

// Puts text into the response body the way a finished request leaves it.
void set_body(const std::string &text) {
    clear_response_buffers();
    ASSERT_TRUE(g_response_body.append(text.data(), text.size()));
}

class JsonQuery : public LibraryTest {
protected:
};

TEST_F(JsonQuery, SelectsByPointerDottedPathAndKey) {
    const char *doc = R"({"name":"bob","n":42,"a":{"b":[10,20]},"a.b":"dotted","$":"dollar",)"
                      R"("":{"0":"empty key"},"x/y":{"m~n":1},".a.b":"lead","/nope":"slash key",)"
                      R"("s":"caf\u00e9 \"q\" a\/b","z":null})";
    const struct {
        const char *body, *path;
        const char *expected;  // nullptr: not found
    } cases[] = {
        {doc, "name", R"("bob")"},
        {doc, "$.a.b[1]", "20"},
        {doc, "/a/b/1", "20"},
        {doc, ".a.b.0", "10"},
        {doc, "a.b", R"("dotted")"},
        {doc, "$", R"("dollar")"},
        {doc, "//0", R"("empty key")"},
        {doc, "/x~1y/m~0n", "1"},
        {doc, "/nope", R"("slash key")"},
        {doc, "/a/c", nullptr},
        {doc, "$.a.b[2]", nullptr},
        {doc, "s", R"("café \"q\" a/b")"},
        {doc, "z", "null"},
        // .a.b finds a/b first; only a miss falls back to the key spelled with its dot.
        {R"({".a.b":"lead"})", ".a.b", R"("lead")"},
        {R"({"a":{"b":1},".a.b":"lead"})", ".a.b", "1"},
        {R"([{"id":7},2])", "/0", R"({"id":7})"},
        {R"([{"id":7},2])", "$.0.id", "7"},
        {R"([{"id":7},2])", "$[0]", nullptr},
        {R"([{"id":7},2])", "0", nullptr},
        {R"({"k":1,"k":2})", "k", "1"},
        {R"({"a":"x\u0000y","b":2})", "b", "2"},
        {"\"scalar\"", "$", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.body);
        set_body(c.body);
        EXPECT_STREQ(api_json_query(c.path), c.expected ? c.expected : "");
        if (!c.expected) {
            EXPECT_EQ(std::string(api_last_error()), std::string("api_json_query: path '") + c.path + "' not found");
        }
    }
}

TEST(DottedToPointer, ConvertsAsDocumented) {
    const std::string long_name(600, 'x');
    const struct {
        std::string dotted, pointer;
    } cases[] = {
        {".data.items[0].id", "/data/items/0/id"},
        {".data.items.0.id", "/data/items/0/id"},
        {".a[x.y]", "/a/x.y"},
        {".a['k']", "/a/'k'"},
        {".[0]", "//0"},
        {".a[b", "/a/b"},
        {".a/b~c", "/a/b~c"},
        {".", "/"},
        {"." + long_name, "/" + long_name.substr(0, 509)},  // stops at 510 characters
    };
    for (const auto &c : cases) {
        char out[json_pointer_size];
        EXPECT_EQ(ac_dotted_to_pointer(c.dotted.c_str(), out), c.pointer.size()) << c.dotted;
        EXPECT_EQ(out, c.pointer);
    }
}

TEST_F(JsonQuery, RefusesBadInputWithItsMessage) {
    const struct {
        std::string body;
        const char *path, *message;
    } cases[] = {
        {R"({"a":1})", nullptr, "api_json_query: empty path"},
        {R"({"a":1})", "", "api_json_query: empty path"},
        {"", "a", "api_json_query: no response body to query"},
        {"\xEF\xBB\xBF{\"a\":1}", "a", "api_json_query: response body is not valid JSON"},
        {"{\"a\":1} trailing", "a", "api_json_query: response body is not valid JSON"},
        {"{\"a\":NaN}", "a", "api_json_query: response body is not valid JSON"},
        {"{\"a\":\"\xFF\"}", "a", "api_json_query: response body is not valid JSON"},
        // The stored length counts, not the first NUL.
        {std::string("{\"a\":1}\0{\"b\":2}", 15), "a", "api_json_query: response body is not valid JSON"},
    };
    for (const auto &c : cases) {
        set_body(c.body);
        EXPECT_STREQ(api_json_query(c.path), "");
        EXPECT_STREQ(api_last_error(), c.message) << c.body;
    }
    api_cleanup();  // no body buffer at all
    EXPECT_STREQ(api_json_query("a"), "");
    EXPECT_STREQ(api_last_error(), "api_json_query: no response body to query");
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
    EXPECT_EQ(api_json_query("big"), "\"" + big + "\"");
    EXPECT_STREQ(api_json_query("arr"), "[]");
}

// The body is parsed by the first query and kept until the response
// changes: later queries only select, and a new body (valid or not) is
// never answered from the old one.
TEST_F(JsonQuery, ParsesEachBodyOnce) {
    auto allocations = [](const char *path, std::string &result) {
        long before = ac_alloc_count();
        result = api_json_query(path);
        return ac_alloc_count() - before;
    };
    std::string items;
    for (int i = 0; i < 200; ++i) items += (i ? ",{\"id\":" : "{\"id\":") + std::to_string(i) + "}";
    set_body("{\"items\":[" + items + "]}");
    std::string first, again;
    long parse = allocations("$.items[7]", first);
    EXPECT_LT(allocations("$.items[7]", again), parse);
    EXPECT_EQ(first, R"({"id":7})");
    EXPECT_EQ(again, first);
    const struct {
        std::string body;
        const char *result;
    } bodies[] = {{R"({"items":[{"id":"new"}]})", R"({"id":"new"})"}, {"not json", ""}, {R"({"items":[1]})", "1"}};
    for (const auto &b : bodies) {
        set_body(b.body);
        EXPECT_STREQ(api_json_query("$.items[0]"), b.result) << b.body;
        EXPECT_STREQ(api_json_query("$.items[0]"), b.result) << b.body;
    }
}

}  // namespace
