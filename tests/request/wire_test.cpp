// What goes on the wire: request lines, bodies, headers and authentication.
#include <string>
#include <vector>

#include "request/request_fixture.h"
#include "support/scaling.h"

namespace {

struct MethodCase {
    const char *method;  // JSON text of the member, or nullptr for none
    const char *body;
    const char *sent_method;
    bool body_sent;
};

// Without it GoogleTest prints the case's raw bytes, padding included.
void PrintTo(const MethodCase &c, std::ostream *out) { *out << (c.method ? c.method : "(none)") << " -> " << c.sent_method; }

class Methods : public RequestTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(Methods, RequestLineAndBodyRule) {
    const MethodCase &c = GetParam();
    std::string config = R"({"url":"$B/m","body":")" + std::string(c.body) + "\"";
    if (c.method) config += std::string(R"(,"method":)") + c.method;
    config += "}";
    ASSERT_EQ(send(config), 1) << api_last_error();
    HttpRequest r = last_request();
    EXPECT_EQ(r.method, c.sent_method);
    EXPECT_EQ(r.target, "/m");
    if (c.body_sent) {
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.header("Content-Length"), std::to_string(std::string(c.body).size()));
    } else {
        EXPECT_EQ(r.body, "");
        EXPECT_EQ(r.header_count("Content-Length"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, Methods,
    ::testing::Values(MethodCase{R"("GET")", "ignored", "GET", false},
                      MethodCase{nullptr, "ignored", "GET", false},
                      MethodCase{R"("TRACE")", "x", "GET", false},
                      MethodCase{R"(7)", "x", "GET", false},
                      MethodCase{R"("post")", "a=1", "POST", true},
                      MethodCase{R"("POST")", "", "POST", true},
                      MethodCase{R"("PUT")", "put-body", "PUT", true},
                      MethodCase{R"("patch")", "{}", "PATCH", true},
                      MethodCase{R"("DELETE")", "gone", "DELETE", true},
                      MethodCase{R"("Delete")", "", "DELETE", false},
                      MethodCase{R"("HEAD")", "x", "HEAD", false},
                      MethodCase{R"("options")", "x", "OPTIONS", false}));

// Header names, in arrival order, that the library itself chose to send.
std::vector<std::string> header_names(const HttpRequest &r) {
    std::vector<std::string> names;
    for (const auto &h : r.headers) {
        if (h.first != "Host" && h.first != "Accept" && h.first != "Content-Length") names.push_back(h.first);
    }
    return names;
}

TEST_F(RequestTest, HeadersGoOutInOrderWithContentTypeAndAuthLast) {
    ASSERT_EQ(send(R"({"url":"$B/h","method":"POST","body":"{}","body_type":"JSON",)"
                   R"("headers":{"X-One":"1","X-Two":2,"X-Three":"three"},)"
                   R"("auth":{"type":"bearer","token":"tok"}})"),
              1);
    HttpRequest r = last_request();
    EXPECT_EQ(header_names(r),
              (std::vector<std::string>{"X-One", "X-Three", "Content-Type", "Authorization"}));
    // A non-string value gives "X-Two: ", which libcurl takes as "send no such header".
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Authorization"), "Bearer tok");
}

// Thousands of headers must not cost seconds before the connection is tried.
TEST_F(RequestTest, HeaderListBuildsInLinearTime) {
    double growth = growth_for_8n(
        [](std::size_t n) {
            std::string config = R"({"url":"http://127.0.0.1:1/","headers":{)";
            for (std::size_t i = 0; i < n; ++i) config += (i ? ",\"H" : "\"H") + std::to_string(i) + R"(":"v")";
            config += "}}";
            EXPECT_EQ(api_request(config.c_str()), 0);  // port 1 refuses at once
        },
        2000);
    EXPECT_LT(growth, linear_growth_bound);
}

TEST_F(RequestTest, ContentTypeFollowsBodyTypeUnlessGiven) {
    // GET keeps libcurl from adding its own form type, as it does for a POST body.
    struct Case {
        const char *extra;
        const char *content_type;
        std::size_t count;
    } cases[] = {
        {R"("body_type":"FORM")", "application/x-www-form-urlencoded", 1},
        {R"("body_type":"json")", "application/json", 1},
        {R"("body_type":"raw")", "", 0},
        {R"("body_type":"xml")", "", 0},
        {R"("body_type":"json","headers":{"content-TYPE":"text/plain"})", "text/plain", 1},
        {R"("body_type":"json","headers":[{"Content-Type":"text/plain"}])", "application/json", 1},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(send(std::string(R"({"url":"$B/c",)") + c.extra + "}"), 1);
        HttpRequest r = last_request();
        EXPECT_EQ(r.header("Content-Type"), c.content_type) << c.extra;
        EXPECT_EQ(r.header_count("Content-Type"), c.count) << c.extra;
    }
}

TEST_F(RequestTest, EmptyHeaderValueRemovesLibcurlDefault) {
    ASSERT_EQ(send(R"({"url":"$B/e"})"), 1);
    EXPECT_EQ(last_request().header_count("Accept"), 1u);
    ASSERT_EQ(send(R"({"url":"$B/e","headers":{"Accept":""}})"), 1);
    EXPECT_EQ(last_request().header_count("Accept"), 0u);
}

TEST_F(RequestTest, AuthenticationFormsOnTheWire) {
    struct Case {
        const char *auth;
        const char *target;
        const char *header;
        const char *value;
    } cases[] = {
        {R"({"type":"Bearer","token":"{{t}}"})", "/a", "Authorization", "Bearer {{t}}"},
        {R"({"type":"basic","user":"al","pass":"pw"})", "/a", "Authorization", "Basic YWw6cHc="},
        {R"({"type":"basic"})", "/a", "Authorization", "Basic Og=="},
        {R"({"type":"basic","username":"al","password":"pw"})", "/a", "Authorization", "Basic Og=="},
        {R"({"type":"apikey","value":"k1"})", "/a", "X-Api-Key", "k1"},
        {R"({"type":"APIKEY","name":"X-Key","value":"k2","in":"header"})", "/a", "X-Key", "k2"},
        {R"({"type":"apikey","key":"Nope","value":"k3"})", "/a", "X-Api-Key", "k3"},
        {R"({"type":"apikey","name":"key","value":"k4","in":"Query"})", "/a?key=k4", "Authorization", ""},
        {R"({"type":"none","token":"t"})", "/a", "Authorization", ""},
        {R"({"token":"t"})", "/a", "Authorization", ""},
        {R"("bearer")", "/a", "Authorization", ""},
    };
    ASSERT_EQ(api_env_set("t", "expanded"), 1);
    for (const Case &c : cases) {
        ASSERT_EQ(send(std::string(R"({"url":"$B/a","auth":)") + c.auth + "}"), 1) << api_last_error();
        HttpRequest r = last_request();
        EXPECT_EQ(r.target, c.target) << c.auth;
        EXPECT_EQ(r.header(c.header), c.value) << c.auth;
    }
}

TEST_F(RequestTest, QueryApiKeyJoinsAnExistingQuery) {
    ASSERT_EQ(send(R"({"url":"$B/q?a=1","auth":{"type":"apikey","in":"query","value":"v"}})"), 1);
    EXPECT_EQ(last_request().target, "/q?a=1&X-Api-Key=v");
}

TEST_F(RequestTest, PlaceholdersExpandInUrlBodyAndHeaderValuesOnly) {
    ASSERT_EQ(api_env_set("path", "users"), 1);
    ASSERT_EQ(api_env_set("id", "42"), 1);
    ASSERT_EQ(api_env_set("m", "POST"), 1);
    ASSERT_EQ(send(R"({"url":"$B/{{path}}/{{ id }}","method":"{{m}}","body":"id={{id}}",)"
                   R"("headers":{"X-{{id}}":"v{{id}}"}})"),
              1);
    HttpRequest r = last_request();
    EXPECT_EQ(r.target, "/users/42");
    EXPECT_EQ(r.method, "GET");  // the method is never expanded
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.header("X-{{id}}"), "v42");

    ASSERT_EQ(send(R"({"url":"$B/p","method":"PUT","body":"id={{id}}&x={{unset}}"})"), 1);
    EXPECT_EQ(last_request().body, "id=42&x={{unset}}");
}

TEST_F(RequestTest, LineBreakInHeaderIsRefusedBeforeSending) {
    ASSERT_EQ(api_env_set("evil", "x\r\nX-Injected: 1"), 1);
    const char *configs[] = {
        R"({"url":"$B/i","headers":{"X-A":"{{evil}}"}})",
        R"({"url":"$B/i","headers":{"X-B\nX-C":"v"}})",
        R"({"url":"$B/i","auth":{"type":"bearer","token":"t\r\nX-Injected: 1"}})",
        R"({"url":"$B/i","auth":{"type":"apikey","name":"K","value":"a\nb"}})",
    };
    const char *messages[] = {
        "api_request: header 'X-A' contains a line break",
        "api_request: header 'X-B\nX-C' contains a line break",
        "api_request: header 'Authorization' contains a line break",
        "api_request: header 'K' contains a line break",
    };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(send(configs[i]), 0);
        EXPECT_STREQ(api_last_error(), messages[i]);
    }
    EXPECT_EQ(server.request_count(), 0u);
}

}  // namespace
