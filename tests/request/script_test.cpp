// api_script_run as a host calls it: one context for the session, scripts'
// own requests beside the last response, the time limit, bad input.
#include <cstdlib>
#include <string>

#include "request/request_fixture.h"
#include "support/json.h"

namespace {

// The output of one script, {{B}} standing for the server's base URL.
std::string run_script(const std::string &script, const std::string &base = "") {
    std::string text = script;
    for (std::size_t at; (at = text.find("{{B}}")) != std::string::npos;) text.replace(at, 5, base);
    yyjson_mut_doc *input = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(input);
    yyjson_mut_doc_set_root(input, root);
    yyjson_mut_obj_add_str(input, root, "event", "test");
    yyjson_mut_obj_add_strcpy(input, root, "script", text.c_str());
    char *json = yyjson_mut_write(input, 0, nullptr);
    std::string out = api_script_run(json);
    std::free(json);
    yyjson_mut_doc_free(input);
    return out;
}

std::string member(const std::string &out, const char *pointer) {
    JsonDoc doc = parse_json(out);
    return json_text(yyjson_ptr_get(yyjson_doc_get_root(doc.get()), pointer));
}

TEST_F(RequestTest, ScriptsRunInOneContextBesideTheLastResponse) {
    if (run_script("").empty()) GTEST_SKIP() << api_last_error();  // built without the engine
    server.route("/token", [](const HttpRequest &r) {
        return HttpReply(http_response(200, "{\"token\":\"" + r.body + "|" + r.header("Content-Type") + "\"}",
                                       "Content-Type: application/json\r\n"));
    });
    server.route("/made", [](const HttpRequest &) { return HttpReply(http_response(201, "made")); });
    ASSERT_EQ(send(R"({"url":"$B/made"})"), 1) << api_last_error();

    const std::string out = run_script(
        "kept = 5;"
        "pm.sendRequest({url: '{{B}}/token', method: 'POST', body: {mode: 'urlencoded', urlencoded: "
        "[{key: 'a', value: 'x y'}]}}, (err, res) => {"
        "  pm.environment.set('token', res.json().token);"
        "  pm.test('sent', () => pm.expect(res.code).to.equal(200));"
        "});",
        server.base_url());
    // Over TLS a script's own request refuses the test server's self-signed certificate.
    if (!over_tls()) {
        EXPECT_EQ(member(out, "/tests/0/passed"), "true") << out;
        EXPECT_EQ(member(out, "/variables/environment/0/value"), R"("a=x%20y|application/x-www-form-urlencoded")") << out;
    }
    // The host's last response is still its own request's.
    EXPECT_EQ(api_response_status(), 201);
    EXPECT_STREQ(api_response_body(), "made");

    // A global stays for the session's later scripts, and goes with api_cleanup.
    EXPECT_EQ(member(run_script("pm.test('kept', () => pm.expect(kept).to.equal(5));"), "/tests/0/passed"), "true");
    api_cleanup();
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(member(run_script("kept;"), "/error/name"), R"("ReferenceError")");

    // A refused connection reaches the callback; what a callback throws ends only itself.
    const std::string refused = run_script(
        "pm.sendRequest('http://127.0.0.1:1/', (err) => {"
        "  pm.test('refused', () => pm.expect(err).to.have.property('message'));"
        "  setTimeout(() => { throw new Error('in a callback'); }, 0);"
        "});");
    EXPECT_EQ(member(refused, "/tests/0/passed"), "true") << refused;
    EXPECT_EQ(member(refused, "/error"), "null") << refused;

    ASSERT_EQ(api_configure(R"({"timeout_script_ms":50})"), 1);
    EXPECT_NE(member(run_script("while (true) {}"), "/error/message").find("timed out"), std::string::npos);
    // The context goes on after a script that was stopped.
    EXPECT_EQ(member(run_script("pm.test('after', () => {});"), "/tests/0/passed"), "true");

    for (const char *bad : {"", "[]", R"({"script":1})"}) {
        EXPECT_STREQ(api_script_run(bad), "") << bad;
        EXPECT_NE(std::string(api_last_error()).rfind("api_script_run: ", 0), std::string::npos) << bad;
    }
}

}  // namespace
