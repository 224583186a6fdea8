// api_configure, and the bodies and authentication that imported collections
// need: multipart forms, file bodies, digest, NTLM and AWS signatures.
#include <filesystem>
#include <regex>
#include <string>

#include "request/request_fixture.h"
#include "support/host.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;

// The text as a JSON string literal.
std::string as_json(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Each option is observed on the wire: a bearer token and a dynamic variable.
TEST_F(RequestTest, ConfigureChangesAllOrNothingUntilCleanup) {
    auto observe = [this] {
        api_env_set("t", "tok");
        EXPECT_EQ(send(R"({"url":"$B/o","headers":{"X-G":"{{$guid}}"},"auth":{"type":"bearer","token":"{{t}}"}})"), 1);
        HttpRequest r = last_request();
        return std::string(r.header("Authorization") == "Bearer tok" ? "A" : "-") + (r.header("X-G") == "{{$guid}}" ? "-" : "D");
    };
    struct Case {
        const char *options;
        const char *error;  // "" when it succeeds
        const char *state;  // expand_auth, dynamic_variables afterwards
    } cases[] = {
        {R"({"expand_auth":true})", "", "A-"},
        {"{}", "", "A-"},
        {R"({"dynamic_variables":true,"expand_auth":false})", "", "-D"},
        {R"({"expand_auth":true,"x":1})", "api_configure: unknown option 'x'", "-D"},
        {R"({"expand_auth":true,"dynamic_variables":1})", "api_configure: 'dynamic_variables' must be a boolean", "-D"},
        {R"({"expand_auth":"true"})", "api_configure: 'expand_auth' must be a boolean", "-D"},
        {R"({"Expand_Auth":true})", "api_configure: unknown option 'Expand_Auth'", "-D"},
        {"[]", "api_configure: options must be a JSON object", "-D"},
        {"true", "api_configure: options must be a JSON object", "-D"},
        {R"({"expand_auth":true)", "api_configure: invalid JSON", "-D"},
        {"", "api_configure: missing options_json", "-D"},
        {nullptr, "api_configure: missing options_json", "-D"},
        {R"({"expand_auth":true,"dynamic_variables":true})", "", "AD"},
    };
    EXPECT_EQ(observe(), "--");
    for (const Case &c : cases) {
        const char *name = c.options ? c.options : "(null)";
        EXPECT_EQ(api_configure(c.options), *c.error ? 0 : 1) << name;
        if (*c.error) {
            EXPECT_STREQ(api_last_error(), c.error) << name;
        }
        EXPECT_EQ(observe(), c.state) << name;
    }
    api_cleanup();
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(observe(), "--");
}

TEST_F(RequestTest, ExpandAuthCoversEveryAuthString) {
    api_env_set("t", "tok");
    api_env_set("u", "al");
    api_env_set("p", "pw");
    struct Case {
        bool expand;
        const char *auth;
        const char *authorization;
    } cases[] = {
        {false, R"({"type":"bearer","token":"{{t}}"})", "Bearer {{t}}"},
        {true, R"({"type":"bearer","token":"{{t}}"})", "Bearer tok"},
        {false, R"({"type":"basic","user":"{{u}}","pass":"{{p}}"})", "Basic e3t1fX06e3twfX0="},
        {true, R"({"type":"basic","user":"{{u}}","pass":"{{p}}"})", "Basic YWw6cHc="},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(api_configure(c.expand ? R"({"expand_auth":true})" : R"({"expand_auth":false})"), 1);
        ASSERT_EQ(send(std::string(R"({"url":"$B/a","auth":)") + c.auth + "}"), 1) << api_last_error();
        EXPECT_EQ(last_request().header("Authorization"), c.authorization) << c.expand << c.auth;
    }
}

TEST_F(RequestTest, DynamicVariablesHaveTheirShapesAndAreDrawnEachTime) {
    const std::pair<const char *, const char *> shapes[] = {
        {"guid", "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"},
        {"randomUUID", "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"},
        {"timestamp", "1[0-9]{9}"},
        {"isoTimestamp", "20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}Z"},
        {"randomInt", "0|[1-9][0-9]{0,2}|1000"},
        {"randomAlphaNumeric", "[a-z0-9]"},
        {"randomBoolean", "true|false"},
        {"randomHexColor", "#[0-9a-f]{6}"},
        {"randomIP", "([0-9]{1,3}\\.){3}[0-9]{1,3}"},
        {"randomIPV6", "([0-9a-f]{4}:){7}[0-9a-f]{4}"},
        {"randomMACAddress", "([0-9a-f]{2}:){5}[0-9a-f]{2}"},
        {"randomPassword", "[A-Za-z0-9_]{15}"},
        {"randomSemver", "[0-9]\\.[0-9]\\.[0-9]"},
        {"randomPrice", "[0-9]{1,4}\\.[0-9]{2}"},
        {"randomBankAccount", "[0-9]{8}"},
        {"randomCreditCardMask", "[0-9]{4}"},
        {"randomLatitude", "-?[0-9]{1,2}\\.[0-9]{4}"},
        {"randomLongitude", "-?[0-9]{1,3}\\.[0-9]{4}"},
        {"randomPhoneNumber", "[0-9]{3}-[0-9]{3}-[0-9]{4}"},
        {"randomPhoneNumberExt", "[0-9]{2}-[0-9]{3}-[0-9]{3}-[0-9]{4}"},
        {"randomProtocol", "https?"},
    };
    std::string headers = R"("X-Env":"{{$randomInt}}","X-Unknown":"{{$nope}}")";
    for (const auto &[name, shape] : shapes) headers += ",\"X-"s + name + "\":\"{{$" + name + "}}\"";
    const std::string config = R"({"url":"$B/d?g={{$guid}}","method":"POST","body":"{{$guid}} {{$guid}}","headers":{)" + headers + "}}";

    ASSERT_EQ(send(config), 1);
    EXPECT_EQ(last_request().header("X-guid"), "{{$guid}}") << "off by default";
    ASSERT_EQ(api_configure(R"({"dynamic_variables":true})"), 1);
    ASSERT_EQ(send(config), 1);
    HttpRequest r = last_request();
    for (const auto &[name, shape] : shapes) {
        EXPECT_TRUE(std::regex_match(r.header("X-"s + name), std::regex(shape))) << name << ": " << r.header("X-"s + name);
    }
    EXPECT_EQ(r.header("X-Unknown"), "{{$nope}}");
    std::smatch m;
    std::string body = r.body;
    ASSERT_TRUE(std::regex_match(body, m, std::regex("(\\S{36}) (\\S{36})"))) << body;
    EXPECT_NE(m[1], m[2]);
    EXPECT_NE(r.target, "/d?g=" + m[1].str());

    ASSERT_EQ(api_env_set("$randomInt", "env-int"), 1);
    ASSERT_EQ(send(config), 1);
    EXPECT_EQ(last_request().header("X-Env"), "env-int");
}

class BodyTest : public RequestTest {
protected:
    std::string file(const std::string &name, const std::string &bytes) {
        std::string path = dir.file(name);
        write_text(path, bytes);
        return path;
    }
    TempDir dir;
};

TEST_F(BodyTest, MultipartPartsGoOutExpandedOneByOne) {
    api_env_set("id", "7");
    api_env_set("q", "a\"b");  // would break the parts' JSON if the whole text were expanded
    const std::string txt = file("up.txt", "text\r\nfile"), bin = file("blob.bin", "\x00\x01\xff"s);
    const std::string parts = R"([{"name":"t{{id}}","value":"v={{q}}"},)"
                              R"({"name":"f","file":")" + dir.path() + R"(/up.{{ext}}","content_type":"text/x-{{id}}","filename":"n{{id}}.txt"},)"
                              R"({"name":"b","file":")" + bin + R"("}])";
    api_env_set("ext", "txt");
    for (const char *method : {"POST", "PUT", "PATCH", "DELETE"}) {
        ASSERT_EQ(send(R"({"url":"$B/m","method":")"s + method + R"(","body_type":"Multipart","body":)" + as_json(parts) +
                       R"(,"headers":{"content-type":"text/plain"}})"),
                  1) << api_last_error();
        HttpRequest r = last_request();
        EXPECT_EQ(r.method, method);
        ASSERT_EQ(r.header_count("Content-Type"), 1u) << method;
        const std::string type = r.header("Content-Type"), prefix = "multipart/form-data; boundary=";
        ASSERT_EQ(type.rfind(prefix, 0), 0u) << type;
        const std::string delim = "--" + type.substr(prefix.size());
        EXPECT_EQ(r.body, delim + "\r\nContent-Disposition: form-data; name=\"t7\"\r\n\r\nv=a\"b\r\n" + delim +
                              "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"n7.txt\"\r\n"
                              "Content-Type: text/x-7\r\n\r\ntext\r\nfile\r\n" + delim +
                              "\r\nContent-Disposition: form-data; name=\"b\"; filename=\"blob.bin\"\r\n"
                              "Content-Type: application/octet-stream\r\n\r\n\x00\x01\xff\r\n"s + delim + "--\r\n");
    }
    ASSERT_EQ(send(R"({"url":"$B/g","body_type":"multipart","body":"[{\"name\":\"f\",\"file\":\"/nonexistent\"}]"})"), 1);
    EXPECT_EQ(last_request().body, "") << "GET sends no body, so none is built";
}

TEST_F(BodyTest, FileBodyGoesOutByteExactWithoutFormType) {
    std::string bytes = "\x00\x01\x02\xff\xfe\r\n"s;
    while (bytes.size() < (3u << 20)) bytes += bytes;  // past the 100-continue threshold
    file("blob.bin", bytes);
    api_env_set("dir", dir.path().c_str());
    struct Case {
        const char *extra;
        const char *content_type;
    } cases[] = {{R"("method":"POST")", ""},
                 {R"("method":"put")", ""},
                 {R"("method":"POST","headers":{"Content-Type":"image/png"})", "image/png"}};
    for (const Case &c : cases) {
        ASSERT_EQ(send(R"({"url":"$B/f","body_type":"FILE","body":"{{dir}}/blob.bin",)"s + c.extra + "}"), 1) << api_last_error();
        HttpRequest r = last_request();
        EXPECT_TRUE(r.body == bytes) << c.extra << ": " << r.body.size() << " bytes";
        EXPECT_EQ(r.header("Content-Length"), std::to_string(bytes.size())) << c.extra;
        EXPECT_EQ(r.header("Content-Type"), c.content_type) << c.extra;
    }
}

TEST_F(BodyTest, UnusableBodiesAreRefusedBeforeSending) {
    const std::string missing = dir.file("missing.bin");
    struct Case {
        std::string config;
        std::string error;
    } cases[] = {
        {R"("body_type":"multipart","body":"{}")", "api_request: multipart body must be a JSON array of parts"},
        {R"("body_type":"multipart","body":"[1]")", "api_request: multipart body must be a JSON array of parts"},
        {R"("body_type":"multipart","body":"[{}")", "api_request: multipart body must be a JSON array of parts"},
        {R"("body_type":"multipart","body":"[{\"name\":\"f\",\"file\":\")" + missing + R"(\"}]")",
         "api_request: cannot read body file '" + missing + "'"},
        {R"("body_type":"file","body":")" + missing + "\"", "api_request: cannot read body file '" + missing + "'"},
        {R"("body_type":"file","body":")" + dir.path() + "\"", "api_request: cannot read body file '" + dir.path() + "'"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(send(R"({"url":"$B/x","method":"POST",)" + c.config + "}"), 0) << c.config;
        EXPECT_EQ(api_last_error(), c.error) << c.config;
    }
    EXPECT_EQ(server.request_count(), 0u);
}

// "body_files_dir": a body file must lie inside it once every link is resolved.
TEST_F(BodyTest, BodyFilesComeOnlyFromTheirDirectory) {
    std::filesystem::create_directory(dir.file("in"));
    file("in/ok.txt", "ok");
    const std::string secret = file("secret.txt", "secret");
    bool links = true;
    try {
        std::filesystem::create_symlink(secret, dir.file("in/out.txt"));
        std::filesystem::create_symlink(dir.file("in/ok.txt"), dir.file("in/alias.txt"));
    } catch (const std::filesystem::filesystem_error &) {
        links = false;  // wine's file system may refuse links
    }
    ASSERT_EQ(api_configure(("{\"body_files_dir\":" + as_json(dir.file("in")) + "}").c_str()), 1) << api_last_error();
    const std::string form = "api_request: Form param `f`, file load error: PPERM: insecure file access outside working directory";
    const std::string binary = "api_request: Binary file load error: PPERM: insecure file access outside working directory";
    struct Case {
        std::string path;
        bool multipart;
        std::string error;  // "" : sent
        std::string sent;   // in the body
        bool needs_links;
    } cases[] = {
        {dir.file("in/ok.txt"), false, "", "ok", false},
        {dir.file("in/ok.txt"), true, "", "filename=\"ok.txt\"", false},
        {secret, false, binary, "", false},
        {secret, true, form, "", false},
        {dir.file("in/../secret.txt"), false, binary, "", false},
        {dir.file("in/out.txt"), true, form, "", true},
        {dir.file("in/alias.txt"), true, "", "filename=\"alias.txt\"", true},
    };
    for (const Case &c : cases) {
        if (c.needs_links && !links) continue;
        std::string body = c.multipart ? R"([{"name":"f","file":)" + as_json(c.path) + "}]" : c.path;
        std::string config = R"({"url":"$B/u","method":"POST","body_type":")"s + (c.multipart ? "multipart" : "file") +
                             R"(","body":)" + as_json(body) + "}";
        std::size_t before = server.request_count();
        EXPECT_EQ(send(config), c.error.empty() ? 1 : 0) << c.path;
        if (!c.error.empty()) {
            EXPECT_EQ(api_last_error(), c.error) << c.path;
            EXPECT_EQ(server.request_count(), before) << c.path;
        } else {
            EXPECT_NE(last_request().body.find(c.sent), std::string::npos) << c.path << ": " << last_request().body;
        }
    }
    EXPECT_EQ(api_configure(("{\"body_files_dir\":" + as_json(secret) + "}").c_str()), 0);
    EXPECT_EQ(api_last_error(), "api_configure: 'body_files_dir' is not a directory: '" + secret + "'");
    ASSERT_EQ(api_configure(R"({"body_files_dir":""})"), 1);
    EXPECT_EQ(send(R"({"url":"$B/u","method":"POST","body_type":"file","body":)" + as_json(secret) + "}"), 1);
}

// Nothing is sent until the server challenges; the retry carries the credentials.
class ChallengeTest : public RequestTest {
protected:
    void expect_answer(const char *scheme, const char *type, const char *authorization) {
        server.route("/auth", [scheme](const HttpRequest &r) {
            return HttpReply(r.header("Authorization").empty()
                                 ? http_response(401, "", "WWW-Authenticate: "s + scheme + "\r\n")
                                 : http_response(200, "in"));
        });
        ASSERT_EQ(send(R"({"url":"$B/auth?x=1","auth":{"type":")"s + type + R"(","user":"al","pass":"pw"}})"), 1)
            << api_last_error();
        EXPECT_EQ(api_response_status(), 200);
        auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].header_count("Authorization"), 0u);
        EXPECT_EQ(requests[1].header("Authorization").rfind(authorization, 0), 0u) << requests[1].header("Authorization");
    }
};

TEST_F(ChallengeTest, DigestAnswersTheChallenge) {
    if (under_wine()) GTEST_SKIP() << "wine has no WDigest package, through which libcurl with Schannel answers Digest";
    expect_answer(R"(Digest realm="r", nonce="abc", qop="auth")", "Digest",
                  R"(Digest username="al", realm="r", nonce="abc", uri="/auth?x=1")");
}

TEST_F(ChallengeTest, NtlmAnswersTheChallenge) { expect_answer("NTLM", "NTLM", "NTLM TlRMTVNTUAAB"); }

TEST_F(RequestTest, AwsSignatureHeaders) {
    struct Case {
        const char *auth, *scope, *token;
    } cases[] = {
        {R"({"type":"awsv4","access_key":"AK","secret_key":"SK"})", "/us-east-1/execute-api/aws4_request", ""},
        {R"({"type":"AWSV4","access_key":"AK","secret_key":"SK","region":"eu-west-1","service":"s3","session_token":"ST"})",
         "/eu-west-1/s3/aws4_request", "ST"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(send(std::string(R"({"url":"$B/aws?b=2&a=1","auth":)") + c.auth + "}"), 1) << api_last_error();
        HttpRequest r = last_request();
        const std::string date = r.header("X-Amz-Date");
        ASSERT_TRUE(std::regex_match(date, std::regex("[0-9]{8}T[0-9]{6}Z"))) << date;
        const std::string signed_headers = *c.token ? "host;x-amz-date;x-amz-security-token" : "host;x-amz-date";
        EXPECT_TRUE(std::regex_match(r.header("Authorization"),
                                     std::regex("AWS4-HMAC-SHA256 Credential=AK/" + date.substr(0, 8) + c.scope +
                                                ", SignedHeaders=" + signed_headers + ", Signature=[0-9a-f]{64}")))
            << r.header("Authorization");
        EXPECT_EQ(r.header("X-Amz-Security-Token"), c.token);
    }
}

}  // namespace

namespace {

// "verbatim": true sends the request as described; the same config without
// it keeps the older rules (the last column), so each row checks both.
TEST_F(RequestTest, VerbatimSendsMethodBodyAndEmptyHeadersAsGiven) {
    const std::string big(1024 * 1024 + 1, 'b');
    struct Case {
        std::string config;
        std::string method, body, content_type, content_length, plain_method;
    } cases[] = {
        {R"("method":"PROPFIND","body":"<x/>")", "PROPFIND", "<x/>", "", "4", "GET"},
        {R"("method":"POST")", "POST", "", "", "0", "POST"},
        {R"("method":"GET","body":"q","body_type":"json")", "GET", "q", "application/json", "1", "GET"},
        {R"("method":"DELETE")", "DELETE", "", "", "", "DELETE"},
        {R"("method":"OPTIONS","body":"o")", "OPTIONS", "o", "", "1", "OPTIONS"},
        {R"("method":"post","body":"x","body_type":"form")", "post", "x", "application/x-www-form-urlencoded", "1", "POST"},
        {R"("method":"PUT","body":")" + big + "\"", "PUT", big, "", std::to_string(big.size()), "PUT"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config.substr(0, 60));
        ASSERT_EQ(send(R"({"url":"$B/v","verbatim":true,"headers":{"X-Empty":""},)" + c.config + "}"), 1) << api_last_error();
        HttpRequest r = last_request();
        EXPECT_EQ(r.method, c.method);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.header("Content-Type"), c.content_type);
        EXPECT_EQ(r.header("Content-Length"), c.content_length);
        EXPECT_EQ(r.header_count("Expect"), 0u);
        EXPECT_EQ(r.header_count("X-Empty"), 1u);
        ASSERT_EQ(send(R"({"url":"$B/v","headers":{"X-Empty":""},)" + c.config + "}"), 1) << api_last_error();
        EXPECT_EQ(last_request().method, c.plain_method);
        EXPECT_EQ(last_request().header_count("X-Empty"), 0u);
    }
    std::size_t before = server.request_count();
    for (const char *method : {"GE T", "GET\\r\\nX: y", "", "M\\u00e9"}) {
        EXPECT_EQ(send(R"({"url":"$B/v","verbatim":true,"method":")"s + method + "\"}"), 0);
        EXPECT_EQ(std::string(api_last_error()).rfind("api_request: invalid method '", 0), 0u) << api_last_error();
    }
    EXPECT_EQ(server.request_count(), before);
}

}  // namespace

namespace {

// A verbatim request sends header lines and credentials whole, however
// long; without "verbatim" the fixed lines of the plain rules still cut them.
TEST_F(RequestTest, VerbatimNeverCutsHeadersOrCredentials) {
    const std::string big(10000, 'h'), token(4096, 't'), user(1500, 'u');
    std::string basic_whole = "Basic ";
    for (std::size_t i = 0; i < user.size(); i += 3) basic_whole += "dXV1";  // "uuu"
    basic_whole += "OnA=";                                                  // ":p"
    struct Case {
        std::string members, header, whole;
        std::size_t cut;  // length of the plain request's header value
    } cases[] = {
        {R"("headers":{"X-Big":")" + big + "\"}", "X-Big", big, 4095 - 7},
        {R"("auth":{"type":"bearer","token":")" + token + "\"}", "Authorization", "Bearer " + token, 2047 - 15},
        {R"("auth":{"type":"apikey","name":"K","value":")" + token + "\"}", "K", token, 2047 - 3},
        // The plain rule cuts "user:pass" to 1023 u's, which libcurl sends as
        // "u...u:" (no password): 1024 bytes, 1368 in base64.
        {R"("auth":{"type":"basic","user":")" + user + R"(","pass":"p"})", "Authorization", basic_whole, 6 + 1368},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.header);
        ASSERT_EQ(send(R"({"url":"$B/long","verbatim":true,)" + c.members + "}"), 1) << api_last_error();
        EXPECT_EQ(last_request().header(c.header), c.whole);
        ASSERT_EQ(send(R"({"url":"$B/long",)" + c.members + "}"), 1) << api_last_error();
        EXPECT_EQ(last_request().header(c.header).size(), c.cut);
    }
}

// An expansion past 64 MiB stops the request before anything is sent.
TEST_F(RequestTest, ExpansionPastTheLimitSendsNothing) {
    ASSERT_EQ(api_env_set("big", std::string(8000, 'x').c_str()), 1);
    std::string body;
    while (body.size() < 9000 * 7) body += "{{big}}";
    EXPECT_EQ(send(R"({"url":"$B/x","method":"POST","body":")" + body + "\"}"), 0);
    EXPECT_STREQ(api_last_error(), "api_request: expanded text too large");
    EXPECT_EQ(server.request_count(), 0u);
}

}  // namespace
