#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "url/url.h"
#include "util/util.h"

namespace {

std::string split(const std::string &raw) {
    unique_mut_doc doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *url = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), url);
    EXPECT_TRUE(ac_url_split(doc.get(), url, raw.data(), raw.size()));
    unique_cstr text(yyjson_mut_write_opts(doc.get(), 0, nullptr, nullptr, nullptr));
    return text ? text.get() : "";
}

std::string join(const std::string &parts) {
    unique_doc doc(ac_json_read(parts.data(), parts.size()));
    DynBuf out;
    EXPECT_TRUE(ac_url_join(out, yyjson_doc_get_root(doc.get()), true));
    return out.c_str();
}

// How Postman's own tools split each URL.
TEST(Url, SplitsLikeTheFormatsToolsAndJoinsBack) {
    const struct {
        const char *raw;
        const char *parts;
    } cases[] = {
        {"https://api.example.com:8080/v1/users?x=1&y#frag",
         R"({"protocol":"https","host":["api","example","com"],"port":"8080","path":["v1","users"],)"
         R"("query":[{"key":"x","value":"1"},{"key":"y","value":null}],"hash":"frag"})"},
        {"{{baseUrl}}/users/{{id}}?q={{v}}", R"({"host":["{{baseUrl}}"],"path":["users","{{id}}"],"query":[{"key":"q","value":"{{v}}"}]})"},
        {"http://127.0.0.1:3000/", R"({"protocol":"http","host":["127","0","0","1"],"port":"3000","path":[""]})"},
        {"/relative/x", R"({"path":["relative","x"]})"},
        {"http://a.com/p?a=b=c&&=x&k=",
         R"({"protocol":"http","host":["a","com"],"path":["p"],"query":[{"key":"a","value":"b=c"},)"
         R"({"key":null,"value":null},{"key":"","value":"x"},{"key":"k","value":""}]})"},
        {"http://u:p@a.com/x", R"({"protocol":"http","auth":{"user":"u","password":"p"},"host":["a","com"],"path":["x"]})"},
        {"{{base.url}}/a.b/c", R"({"host":["{{base.url}}"],"path":["a.b","c"]})"},
        {"a.com/{{p/q}}?x={{a&b}}#{{h#}}", R"({"host":["a","com"],"path":["{{p/q}}"],"query":[{"key":"x","value":"{{a&b}}"}],"hash":"{{h#}}"})"},
        {"http://{{host}}:{{port}}/p", R"({"protocol":"http","host":["{{host}}"],"port":"{{port}}","path":["p"]})"},
        {"http://a.com/x#h?y", R"({"protocol":"http","host":["a","com"],"path":["x"],"hash":"h?y"})"},
        {"http://a.com/x?y=1?z=2", R"({"protocol":"http","host":["a","com"],"path":["x"],"query":[{"key":"y","value":"1?z=2"}]})"},
        {"http://a.com//double//", R"({"protocol":"http","host":["a","com"],"path":["","double","",""]})"},
        {"//a.com/x", R"({"path":["","a.com","x"]})"},
        {"localhost:8080", R"({"host":["localhost"],"port":"8080"})"},
        {"http://a.com:80:90/x", R"({"protocol":"http","host":["a","com:80"],"port":"90","path":["x"]})"},
        {"http://[::1]:80/x", R"({"protocol":"http","host":["[::1]"],"port":"80","path":["x"]})"},
        {"file:///tmp/x", R"({"protocol":"file","path":["tmp","x"]})"},
        {"http://a.com/x/{{", R"({"protocol":"http","host":["a","com"],"path":["x","{{"]})"},
        {"", "{}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(split(c.raw), c.parts);
        EXPECT_EQ(join(c.parts), c.raw);
    }
}

// A scan looking afresh for each unclosed mark's end would not finish.
TEST(Url, SplitsUnclosedMarksInLinearTime) {
    std::string raw = "http://";
    for (int i = 0; i < 100000; ++i) raw += "[:a.";
    raw += "/";
    for (int i = 0; i < 100000; ++i) raw += "{{/";
    raw += "?";
    for (int i = 0; i < 100000; ++i) raw += "{{=&";
    EXPECT_EQ(join(split(raw)), raw);
}

TEST(Url, TrimsBlanksBeforeSplitting) {
    EXPECT_EQ(split("  http://a.com \n"), R"({"protocol":"http","host":["a","com"]})");
}

TEST(Url, JoinsPartsOfEveryShape) {
    const struct {
        const char *parts;
        const char *url;
    } cases[] = {
        {R"({"protocol":"https://","host":"h.com","path":"/a"})", "https://h.com/a"},
        {R"({"host":["h"],"port":8080,"path":["a",{"type":"string","value":"b"},5]})", "h:8080/a/b/5"},
        {R"({"host":["h"],"query":[{"key":"a","value":"1","disabled":true},{"key":"b","disabled":false,"value":"2"},{"key":"c"}]})",
         "h?b=2&c"},
        {R"({"host":["h"],"query":[{"key":"a","disabled":true}]})", "h"},
        {R"({"host":["h"],"query":"x=1"})", "h?x=1"},
        {R"({"host":["h"],"hash":"","port":""})", "h"},
        {R"({"protocol":7,"host":null,"path":{}})", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(join(c.parts), c.url) << c.parts;
}

}  // namespace
