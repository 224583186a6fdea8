// quorvane run: the requests sent, the reporters' files, --folder, --bail
// and the exit statuses.
#include <tinyxml2.h>

#include "cli/cli_fixture.h"
#include "support/json.h"
#include "support/posix/self_signed_tls.h"

namespace {

// The environment's disabled only_coll=off is set all the same, as newman sets it.
const std::vector<std::string> shop_requests = {
    "GET /users?who=env&q=a%20b", "DELETE /users/7", "POST /orders", "GET /fail", "GET /health?c=off"};

TEST_F(CliTest, RunSendsEveryRequestWithNewmansPrecedence) {
    Outcome r = quorvane({"run", shop(), "-e", shop_env(), "--env-var", "sku=cli-sku", "--env-var", base_var()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(request_lines(server_), shop_requests);
    std::vector<HttpRequest> got = server_.requests();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].header("Authorization"), "Bearer tk");  // inherited, expanded from -e
    EXPECT_EQ(got[1].header_count("Authorization"), 0u);      // noauth
    EXPECT_EQ(got[2].body, R"({"sku":"cli-sku"})");          // --env-var over -e
    EXPECT_EQ(got[2].header("Content-Type"), "application/json");
    EXPECT_EQ(got[2].header("X-Trace"), "t1");
    // The cli reporter: each request with its status and its tests, a summary.
    EXPECT_NE(r.out.find("GET " + server_.url("/fail") + " [500 Internal Server Error"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\u2713  ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("assertions \u2502"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

// Failed-request counts of each JUnit suite, by name.
std::vector<std::string> junit_suites(const tinyxml2::XMLElement *root) {
    std::vector<std::string> out;
    for (auto *s = root->FirstChildElement("testsuite"); s; s = s->NextSiblingElement("testsuite")) {
        std::string cases;
        for (auto *c = s->FirstChildElement("testcase"); c; c = c->NextSiblingElement("testcase"))
            cases += std::string(c->Attribute("name")) + (c->FirstChildElement("failure") ? "!" : "") + ";";
        out.push_back(std::string(s->Attribute("name")) + " " + s->Attribute("tests") + "/" + s->Attribute("failures") +
                      " " + cases);
    }
    return out;
}

TEST_F(CliTest, ReportersWriteJunitAndNewmansJsonShape) {
    Outcome r = quorvane({"run", shop(), "-e", shop_env(), "--env-var", base_var(), "-r", "json,junit",
                          "--reporter-json-export", "reports/run.json", "--reporter-junit-export", "run.xml",
                          "--assert-status", "2xx,3xx", "-n", "2"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");  // no cli reporter asked for
    EXPECT_EQ(server_.request_count(), 10u);

    tinyxml2::XMLDocument xml;
    ASSERT_EQ(xml.LoadFile(dir_.file("run.xml").c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement *root = xml.FirstChildElement("testsuites");
    ASSERT_TRUE(root);
    EXPECT_STREQ(root->Attribute("tests"), "10");
    EXPECT_STREQ(root->Attribute("failures"), "2");
    const std::vector<std::string> suites = {
        "Users 2/0 List users (iteration 1);List users (iteration 2);",
        "Users/Admin 2/0 Delete user (iteration 1);Delete user (iteration 2);",
        "Orders 4/2 Create order (iteration 1);Fail (iteration 1)!;Create order (iteration 2);Fail (iteration 2)!;",
        "Shop 2/0 Health (iteration 1);Health (iteration 2);"};
    EXPECT_EQ(junit_suites(root), suites);

    JsonDoc doc = parse_json(read_text(dir_.file("reports/run.json")));
    yyjson_val *run = yyjson_obj_get(yyjson_doc_get_root(doc.get()), "run");
    ASSERT_TRUE(run);
    EXPECT_EQ(json_text(yyjson_ptr_get(run, "/stats/requests")), R"({"total":10,"pending":0,"failed":0})");
    // Ten status checks and the test of List users in each iteration.
    EXPECT_EQ(json_text(yyjson_ptr_get(run, "/stats/assertions")), R"({"total":12,"pending":0,"failed":2})");
    EXPECT_EQ(json_text(yyjson_ptr_get(run, "/stats/testScripts")), R"({"total":2,"pending":0,"failed":0})");
    EXPECT_EQ(json_text(yyjson_ptr_get(run, "/stats/iterations")), R"({"total":2,"pending":0,"failed":2})");
    yyjson_val *executions = yyjson_obj_get(run, "executions");
    ASSERT_EQ(yyjson_arr_size(executions), 10u);
    yyjson_val *fail = yyjson_arr_get(executions, 3);
    EXPECT_STREQ(json_str(yyjson_ptr_get(fail, "/item"), "name"), "Fail");
    EXPECT_STREQ(json_str(yyjson_ptr_get(fail, "/request"), "method"), "GET");
    EXPECT_EQ(json_text(yyjson_ptr_get(fail, "/request/url/path")), R"(["fail"])");
    EXPECT_EQ(json_text(yyjson_ptr_get(fail, "/request/url/port")), "\"" + std::to_string(server_.port()) + "\"");
    EXPECT_EQ(yyjson_get_int(yyjson_ptr_get(fail, "/response/code")), 500);
    EXPECT_EQ(yyjson_get_int(yyjson_ptr_get(fail, "/response/responseSize")), 11);
    EXPECT_TRUE(yyjson_is_int(yyjson_ptr_get(fail, "/response/responseTime")));
    EXPECT_EQ(json_text(yyjson_ptr_get(executions, "/0/request/url/query/1")), R"({"key":"q","value":"a%20b"})");
    yyjson_val *failures = yyjson_obj_get(run, "failures");
    ASSERT_EQ(yyjson_arr_size(failures), 2u);
    EXPECT_STREQ(json_str(yyjson_ptr_get(failures, "/0/source"), "name"), "Fail");
    EXPECT_STREQ(json_str(yyjson_ptr_get(failures, "/0/error"), "message"), "expected status in 2xx,3xx, got 500");
    EXPECT_EQ(yyjson_get_int(yyjson_ptr_get(failures, "/1/cursor/iteration")), 1);
}

TEST_F(CliTest, FolderPicksLikeNewmanInCollectionOrder) {
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"Users"}, {shop_requests[0], shop_requests[1]}},
        {{"Admin"}, {shop_requests[1]}},
        {{"Users/Admin"}, {shop_requests[1]}},
        {{"Health"}, {shop_requests[4]}},  // a request by its name
        {{"Health", "Orders"}, {shop_requests[2], shop_requests[3], shop_requests[4]}},
    };
    for (const auto &[folders, expected] : cases) {
        server_.clear_requests();
        std::vector<std::string> args = {"run", shop(), "-e", shop_env(), "--env-var", base_var(), "-r", "json",
                                         "--reporter-json-export", "r.json"};
        for (const std::string &f : folders) args.insert(args.end(), {"--folder", f});
        Outcome r = quorvane(args);
        EXPECT_EQ(request_lines(server_), expected) << folders[0] << r.err;
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CliTest, BailStopsAtTheFirstFailedRequest) {
    Outcome r = quorvane({"run", shop(), "-e", shop_env(), "--env-var", base_var(), "--assert-status", "200-299",
                          "--bail", "--folder", "Orders", "-n", "3", "--color", "off"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(request_lines(server_), (std::vector<std::string>{"POST /orders", "GET /fail"}));
    EXPECT_NE(r.out.find("run stopped: --bail"), std::string::npos) << r.out;

    // A transfer that fails is a failed request even without --assert-status;
    // -x hides it from the exit status.
    std::string own = dir_.file("own.json");
    write_text(own, R"({"version":"1.0.0","requests":[{"name":"down","url":"http://127.0.0.1:1/"},{"name":"up","url":")" +
                        server_.url("/up") + R"("}]})");
    server_.clear_requests();
    r = quorvane({"run", own, "--bail"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("[errored]"), std::string::npos) << r.out;
    EXPECT_EQ(server_.request_count(), 0u);
    r = quorvane({"run", own, "-x", "--silent"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(request_lines(server_), (std::vector<std::string>{"GET /up"}));
}

TEST_F(CliTest, BadArgumentsAndUnreadableFilesExitWithTwo) {
    write_text(dir_.file("broken.json"), "{\"item\": [");
    write_text(dir_.file("kept.xml"), "last run");
    const std::vector<std::vector<std::string>> cases = {
        {"run", "broken.json", "-r", "junit", "--reporter-junit-export", "kept.xml"},
        {"run"},
        {"run", "missing.json"},
        {"run", "broken.json"},
        {"run", "shop.json", "-e", "missing.json"},
        {"run", "shop.json", "--env-var", "novalue"},
        {"run", "shop.json", "--folder", "Nowhere"},
        {"run", "shop.json", "--assert-status", "2xx,abc"},
        {"run", "shop.json", "-r", "cli,htmlextra"},
        {"run", "shop.json", "-n", "0"},
        {"run", "shop.json", "--color", "sometimes"},
        {"run", "shop.json", "--no-such-option"},
        {"run", "shop.json", "--reporter-junit-export", "shop.json/x.xml", "-r", "junit"},
        {"run", "shop.json", "--ssl-client-cert", "missing.pem"},
        {"run", "shop.json", "--ssl-client-key", "kept.xml"},
        {"run", "shop.json", "--ssl-extra-ca-certs", "missing.pem"},
        {"run", "shop.json", "--max-response-size", "-1"},
        {"request"},
        {"request", "GET", "http://127.0.0.1:1/", "extra"},
        {"request", "http://127.0.0.1:1/", "-H", "no colon"},
        {"request", "http://127.0.0.1:1/", "-d", "x", "--json", "{}"},
        {"request", "http://127.0.0.1:1/", "--auth", "digest:x"},
        {"request", "http://127.0.0.1:1/", "--data-file", "missing.bin"},
        {"request", "http://127.0.0.1:1/", "--max-filesize", "-5"},
        {"import", "shop.json"},
        {"import", "missing.json", "-o", "x.json"},
        {"export", "broken.json", "-o", "x.json"},
        {"help", "nothing"},
        {"frobnicate"},
    };
    for (const auto &args : cases) {
        Outcome r = quorvane(args);
        EXPECT_EQ(r.status, 2) << args.back() << r.out << r.err;
        EXPECT_TRUE(is_one_line(r.err) && r.err.rfind("quorvane", 0) == 0) << args.back() << ": " << r.err;
    }
    EXPECT_EQ(server_.request_count(), 0u);
    EXPECT_FALSE(file_exists(dir_.file("x.json")));
    EXPECT_EQ(read_text(dir_.file("kept.xml")), "last run");
}

// newman's --ssl-client-cert/--ssl-client-key: every request shows the
// certificate, its paths read from where the command was given.
TEST_F(CliTest, ClientCertificateGoesWithEveryRequest) {
    HttpServer tls{HttpServerOptions{true, 0, false, true}};
    SelfSigned client = make_self_signed("quorvane-client");
    write_text(dir_.file("client.pem"), client.cert_pem);
    write_text(dir_.file("client.key"), client.key_pem);
    write_text(dir_.file("both.pem"), client.cert_pem + client.key_pem);
    struct Case {
        std::vector<std::string> extra;
        const char *cn;
    } cases[] = {
        {{}, ""},
        {{"--ssl-client-cert", "client.pem", "--ssl-client-key", "client.key"}, "quorvane-client"},
        {{"--ssl-client-cert", "both.pem", "--working-dir", "/"}, "quorvane-client"},
    };
    for (const Case &c : cases) {
        tls.clear_requests();
        std::vector<std::string> args = {"run", shop(), "-e", shop_env(), "--env-var", "base=" + tls.base_url(), "-k"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Outcome r = quorvane(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        std::vector<HttpRequest> got = tls.requests();
        EXPECT_EQ(got.size(), 5u) << r.err;
        for (const HttpRequest &q : got) EXPECT_EQ(q.client_cert_cn, c.cn) << c.extra.size();
    }
    // --ssl-extra-ca-certs: the server's certificate trusted beside the system's.
    write_text(dir_.file("server.pem"), tls.certificate_pem());
    for (bool trusted : {true, false}) {
        tls.clear_requests();
        std::vector<std::string> args = {"run", shop(), "-e", shop_env(), "--env-var", "base=" + tls.base_url(), "--silent"};
        if (trusted) args.insert(args.end(), {"--ssl-extra-ca-certs", "server.pem"});
        Outcome r = quorvane(args);
        EXPECT_EQ(r.status, trusted ? 0 : 1) << r.err;
        EXPECT_EQ(tls.requests().size(), trusted ? 5u : 0u);
    }
}

// A cookie jar for the run, as newman keeps: what /login sets goes with
// /me; --export-cookie-jar writes it in newman's form, --cookie-jar starts
// a run from it. Of cookies with paths of one length libcurl sends the
// longer name first (newman: the one set first).
TEST_F(CliTest, CookiesGoWithLaterRequestsOfTheRun) {
    server_.route("/login", [](const HttpRequest &) {
        return HttpReply(http_response(200, "", "Set-Cookie: sid=abc; Path=/\r\nSet-Cookie: keep=1; Max-Age=3600\r\n"));
    });
    std::string own = dir_.file("own.json");
    write_text(own, R"({"version":"1.0.0","requests":[{"name":"login","url":")" + server_.url("/login") +
                        R"("},{"name":"me","url":")" + server_.url("/me") + R"("}]})");
    Outcome r = quorvane({"run", own, "--silent", "--export-cookie-jar", "jar.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server_.requests().back().header("Cookie"), "keep=1; sid=abc");
    JsonDoc jar = parse_json(read_text(dir_.file("jar.json")));
    yyjson_val *cookies = yyjson_obj_get(yyjson_doc_get_root(jar.get()), "cookies");
    ASSERT_EQ(yyjson_arr_size(cookies), 2u) << read_text(dir_.file("jar.json"));
    EXPECT_STREQ(json_str(yyjson_arr_get(cookies, 0), "key"), "sid");
    EXPECT_TRUE(yyjson_is_str(yyjson_obj_get(yyjson_arr_get(cookies, 1), "expires")));
    server_.clear_requests();
    r = quorvane({"run", own, "--silent", "--folder", "me", "--cookie-jar", "jar.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server_.requests().back().header("Cookie"), "keep=1; sid=abc");
    write_text(dir_.file("bad.json"), "{}");
    EXPECT_EQ(quorvane({"run", own, "--cookie-jar", "bad.json"}).status, 2);
}

TEST_F(CliTest, IterationDataWinsForItsIterationOnly) {
    // The quoted comma and the blank stay in the value; b is unset in row 2.
    write_text(dir_.file("data.csv"), "\xEF\xBB\xBFwho,b\nann,\"x, y\"\nbob\n");
    write_text(dir_.file("data.json"), R"([{"who":"j1","b":1},{"who":"j2"}])");
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"-d", "data.csv"}, {"GET /users?who=ann&q=a%20b&b=x,%20y", "GET /users?who=bob&q=a%20b&b={{b}}"}},
        // Past the last row the last row is used; -e loses to the data.
        {{"-d", "data.json", "-n", "3", "-e", "env.json"},
         {"GET /users?who=j1&q=a%20b&b=1", "GET /users?who=j2&q=a%20b&b={{b}}", "GET /users?who=j2&q=a%20b&b={{b}}"}},
    };
    std::string collection = shop_collection;
    collection.replace(collection.find("q=a b"), 5, "q=a b&b={{b}}");
    write_text(shop(), collection);
    for (const auto &[extra, expected] : cases) {
        server_.clear_requests();
        std::vector<std::string> args = {"run", "shop.json", "--folder", "List users", "--env-var", base_var(), "--silent"};
        args.insert(args.end(), extra.begin(), extra.end());
        Outcome r = quorvane(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(request_lines(server_), expected) << extra[1];
    }
    EXPECT_EQ(quorvane({"run", "shop.json", "-d", "missing.csv"}).status, 2);
    write_text(dir_.file("bad.csv"), "a,b\n\"unclosed\n");
    EXPECT_EQ(quorvane({"run", "shop.json", "-d", "bad.csv"}).status, 2);
}

TEST_F(CliTest, ExportsAndWorkingDirectory) {
    TempDir files;
    write_text(files.file("part.txt"), "from the working dir");
    std::string own = dir_.file("own.json");
    write_text(own, R"({"version":"1.0.0","requests":[{"name":"up","method":"POST","url":"{{base}}/up","body_type":"multipart",)"
                    R"("body":"[{\"name\":\"f\",\"file\":\"part.txt\"}]"}]})");
    Outcome r = quorvane({"run", own, "--env-var", base_var(), "--working-dir", files.path(), "--silent",
                          "--export-environment", "env-out.json", "--export-collection", "coll-out.json"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(server_.request_count(), 1u);
    EXPECT_NE(server_.requests()[0].body.find("from the working dir"), std::string::npos);
    // Written where the command line said, not in the working directory.
    JsonDoc env = parse_json(read_text(dir_.file("env-out.json")));
    EXPECT_EQ(json_text(yyjson_ptr_get(yyjson_doc_get_root(env.get()), "/values/0/value")), "\"" + server_.base_url() + "\"");
    JsonDoc coll = parse_json(read_text(dir_.file("coll-out.json")));
    EXPECT_STREQ(json_str(yyjson_ptr_get(yyjson_doc_get_root(coll.get()), "/item/0"), "name"), "up");

    // With --no-insecure-file-read a part from outside the working directory is not sent.
    write_text(own, R"({"version":"1.0.0","requests":[{"name":"up","method":"POST","url":"{{base}}/up","body_type":"multipart",)"
                    R"("body":"[{\"name\":\"f\",\"file\":\"../)" + dir_.path().substr(dir_.path().rfind('/') + 1) +
                    R"(/own.json\"}]"}]})");
    r = quorvane({"run", own, "--env-var", base_var(), "--working-dir", files.path(), "--no-insecure-file-read"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Form param `f`, file load error: PPERM: insecure file access outside working directory"),
              std::string::npos) << r.out;
    EXPECT_EQ(server_.request_count(), 1u);
}

TEST_F(CliTest, ImportThenExportRunsTheSameRequests) {
    Outcome r = quorvane({"import", shop(), "-o", "own.json", "--variables-out", "vars.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("5 of 5 requests"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("List users: script: test script kept, not run"), std::string::npos) << r.out;
    EXPECT_TRUE(file_exists(dir_.file("vars.json")));
    r = quorvane({"export", "own.json", "-o", "postman.json"});
    ASSERT_EQ(r.status, 0) << r.err;

    // The collection's variables travel in both files; -e still wins over them.
    for (const char *file : {"own.json", "postman.json"}) {
        server_.clear_requests();
        r = quorvane({"run", file, "-e", shop_env(), "--env-var", base_var(), "--env-var", "sku=s"});
        EXPECT_EQ(r.status, 0) << file << r.err;
        EXPECT_EQ(request_lines(server_), shop_requests) << file;
    }
}

TEST_F(CliTest, TimeoutRequestIsRoundedUpToWholeSeconds) {
    server_.route("/slow", [](const HttpRequest &) { return HttpReply(http_response(200, "late"), std::chrono::milliseconds(1300)); });
    std::string own = dir_.file("slow.json");
    write_text(own, R"({"version":"1.0.0","requests":[{"name":"slow","url":"{{base}}/slow"}]})");
    // 1500 ms allows 2 s: the reply after 1.3 s arrives; 500 ms allows 1 s: it does not.
    EXPECT_EQ(quorvane({"run", own, "--env-var", base_var(), "--timeout-request", "1500", "--silent"}).status, 0);
    Outcome r = quorvane({"run", own, "--env-var", base_var(), "--timeout-request", "500", "-r", "json",
                          "--reporter-json-export", "r.json"});
    EXPECT_EQ(r.status, 1);
    JsonDoc doc = parse_json(read_text(dir_.file("r.json")));
    yyjson_val *run = yyjson_obj_get(yyjson_doc_get_root(doc.get()), "run");
    EXPECT_STREQ(json_str(yyjson_ptr_get(run, "/failures/0"), "at"), "request");
    EXPECT_NE(std::string(json_str(yyjson_ptr_get(run, "/executions/0/requestError"), "message")).find("imeout"),
              std::string::npos);
    EXPECT_FALSE(yyjson_ptr_get(run, "/executions/0/response"));
}

TEST_F(CliTest, ColourAndSymbolsFollowTheOptionsAndNoColor) {
    const struct {
        std::vector<std::string> extra;
        std::map<std::string, std::string> env;
        bool escapes;
        bool unicode;
    } cases[] = {
        {{}, {}, false, true},  // not a terminal
        {{"--color", "on"}, {}, true, true},
        {{"--color", "on"}, {{"NO_COLOR", "1"}}, false, true},
        {{"--disable-unicode"}, {}, false, false},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"run", shop(), "-e", shop_env(), "--env-var", base_var(), "--assert-status", "2xx"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Outcome r = quorvane(args, c.env);
        EXPECT_EQ(r.out.find('\x1b') != std::string::npos, c.escapes) << r.out;
        bool multibyte = false;
        for (char ch : r.out) multibyte = multibyte || static_cast<unsigned char>(ch) >= 0x80;
        EXPECT_EQ(multibyte, c.unicode) << r.out;
        EXPECT_NE(r.out.find("expected status in 2xx, got 500"), std::string::npos) << r.out;
    }
}

}  // namespace
