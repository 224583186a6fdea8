// quorvane request and history: what goes out for each form of the
// command line, what comes back on standard output, what is recorded.
#include <regex>
#include <sstream>
#include <string>

#include "cli/cli_fixture.h"
#include "support/json.h"

namespace {

struct Sent {
    std::vector<std::string> args;  // after "request"; {url} stands for the server's URL
    std::string line;               // "METHOD target"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;               // "" also checks that none was sent
};

TEST_F(CliTest, RequestSendsWhatTheCommandLineSays) {
    write_text(dir_.file("payload.bin"), std::string("ab\0cd", 5));
    const Sent cases[] = {
        {{"{url}/a"}, "GET /a", {}, ""},
        {{"put", "{url}/a", "-d", "x y"}, "PUT /a", {}, "x y"},
        {{"{url}/a", "--json", "{\"a\":1}"}, "POST /a", {{"Content-Type", "application/json"}}, "{\"a\":1}"},
        {{"{url}/h", "-H", "X-A: 1", "-H", "x-a:2"}, "GET /h", {{"X-A", "1"}, {"x-a", "2"}}, ""},
        {{"{url}/{{p}}", "--env-var", "p=zz", "--auth", "bearer:{{p}}"}, "GET /zz", {{"Authorization", "Bearer zz"}}, ""},
        {{"{url}/b", "--auth", "basic:ann:pa:ss"}, "GET /b", {{"Authorization", "Basic YW5uOnBhOnNz"}}, ""},
        {{"DELETE", "{url}/d", "--data-file", "payload.bin"}, "DELETE /d", {}, std::string("ab\0cd", 5)},
    };
    for (const Sent &c : cases) {
        server_.clear_requests();
        std::vector<std::string> args = {"request", "--no-history"};
        for (std::string a : c.args) {
            if (a.rfind("{url}", 0) == 0) a = server_.base_url() + a.substr(5);
            args.push_back(a);
        }
        Outcome r = quorvane(args);
        SCOPED_TRACE(c.line);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "{\"ok\":true,\"name\":\"Ada\"}");  // a pipe gets the body as it is
        std::vector<HttpRequest> got = server_.requests();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].method + " " + got[0].target, c.line);
        EXPECT_EQ(got[0].body, c.body);
        for (const auto &[name, value] : c.headers) {
            bool found = false;
            for (const auto &h : got[0].headers) found = found || (h.first == name && h.second == value);
            EXPECT_TRUE(found) << name << ": " << value << "\n" << got[0].raw;
        }
    }
}

TEST_F(CliTest, RequestSendsFormFieldsAndFiles) {
    write_text(dir_.file("note.txt"), "file body");
    Outcome r = quorvane({"request", server_.url("/f"), "--form", "a=1", "--form", "up=@note.txt", "--no-history"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<HttpRequest> got = server_.requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].method, "POST");
    EXPECT_EQ(got[0].header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
    for (const char *part : {"name=\"a\"\r\n\r\n1\r\n", "name=\"up\"; filename=\"note.txt\"", "file body"})
        EXPECT_NE(got[0].body.find(part), std::string::npos) << part << "\n" << got[0].body;
}

TEST_F(CliTest, RequestPrintsHeadQueryAndFiles) {
    Outcome r = quorvane({"request", server_.url("/u"), "-i", "--no-history", "--color", "off"});
    EXPECT_EQ(r.out.rfind("HTTP/1.1 200 OK\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("content-type: application/json\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n\n{\"ok\":true"), std::string::npos) << r.out;

    const std::pair<std::string, std::string> queries[] = {{"$.name", "\"Ada\"\n"}, {"/ok", "true\n"}, {"name", "\"Ada\"\n"}};
    for (const auto &[path, value] : queries) EXPECT_EQ(quorvane({"request", server_.url("/u"), "--query", path}).out, value);
    r = quorvane({"request", server_.url("/u"), "--query", "$.missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(is_one_line(r.err)) << r.err;

    r = quorvane({"request", server_.url("/u"), "-o", "sub/body.json", "--timing"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_text(dir_.file("sub/body.json")), "{\"ok\":true,\"name\":\"Ada\"}");
    EXPECT_NE(r.err.find("total"), std::string::npos) << r.err;

    // A failed transfer leaves an earlier output file as it was.
    write_text(dir_.file("keep.json"), "kept");
    r = quorvane({"request", "http://127.0.0.1:1/", "-o", "keep.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(is_one_line(r.err)) << r.err;
    EXPECT_EQ(read_text(dir_.file("keep.json")), "kept");
}

// --max-filesize (request) and --max-response-size (run) fail a response
// that passes them; one that fits goes through.
TEST_F(CliTest, ResponseLimitFailsTheRequest) {
    std::string own = dir_.file("own.json");
    write_text(own, R"({"version":"1.0.0","requests":[{"name":"u","url":")" + server_.url("/u") + R"("}]})");
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"request", server_.url("/u"), "--no-history", "--max-filesize", "5"}, 1},
        {{"request", server_.url("/u"), "--no-history", "--max-filesize", "1000"}, 0},
        {{"run", own, "--max-response-size", "5"}, 1},
        {{"run", own, "--max-response-size", "0"}, 0},
    };
    for (const auto &c : cases) {
        Outcome r = quorvane(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << r.err;
        EXPECT_EQ((r.out + r.err).find("response larger than 5 bytes") != std::string::npos, c.status == 1) << r.out << r.err;
    }
}

TEST_F(CliTest, HistoryRecordsRequestsNewestFirstUnlessAskedNot) {
    quorvane({"request", server_.url("/one")});
    quorvane({"request", "POST", server_.url("/fail")});
    quorvane({"request", server_.url("/skipped"), "--no-history"});
    EXPECT_TRUE(file_exists(home_.file("history.json")));
    Outcome r = quorvane({"history", "--json"});
    EXPECT_EQ(r.status, 0);
    JsonDoc doc = parse_json(r.out);
    yyjson_val *list = yyjson_doc_get_root(doc.get());
    ASSERT_EQ(yyjson_arr_size(list), 2u) << r.out;
    EXPECT_STREQ(json_str(yyjson_arr_get(list, 0), "url"), server_.url("/fail").c_str());
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(yyjson_arr_get(list, 0), "status")), 500);
    EXPECT_STREQ(json_str(yyjson_arr_get(list, 1), "method"), "GET");
    r = quorvane({"history", "--limit", "1"});
    EXPECT_NE(r.out.find("  500  POST    " + server_.url("/fail") + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("/one"), std::string::npos);

    // Without QUORVANE_HOME the history lives under XDG_DATA_HOME.
    TempDir xdg;
    quorvane({"request", server_.url("/x")}, {{"QUORVANE_HOME", ""}, {"XDG_DATA_HOME", xdg.path()}});
    EXPECT_TRUE(file_exists(xdg.file("quorvane/history.json")));
}

TEST_F(CliTest, HelpAndVersion) {
    Outcome r = quorvane({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("quorvane ", 0), 0u);
    for (const char *command : {"run", "request", "import", "export", "history"}) {
        Outcome help = quorvane({"help", command});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("NAME\n    quorvane ") + command + " - ", 0), 0u) << help.out;
        EXPECT_NE(help.out.find("EXIT STATUS"), std::string::npos) << command;
        EXPECT_EQ(quorvane({command, "--help"}).out, help.out);
        // Each option as written: its names and its type, nothing of the parser's own.
        std::size_t options = help.out.find("\nOPTIONS\n");
        std::istringstream lines(help.out.substr(options, help.out.find("\n\nEXIT", options) - options));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("    -", 0) != 0) continue;
            EXPECT_TRUE(std::regex_match(line, std::regex(R"(    -[-\w.]+(, --[-\w.]+)?( <[^>]+>| \[[^\]]+\])?)")))
                << command << ": " << line;
        }
    }
    EXPECT_NE(quorvane({"help", "run"}).out.find("--timeout-request <ms>"), std::string::npos);
}

}  // namespace
